// The main window's site list, driven as a person drives it.
#include <QTimer>

#include "main_window/core/Twips.h"
#include "tests/gui/TestWindow.h"

using namespace moatgate;
using test::Column;

namespace {

bool Near(int a, int b) { return std::abs(a - b) <= 1; }  // twips round to pixels

}  // namespace

class FormXTest : public QObject {
    Q_OBJECT
private slots:
    void theListLooksAsDesigned() {
        test::Window w({{"trusted.example", "*", 2}, {"odd.example", "http", 77}, {"zero.example", "http", 0}});
        w.Show();
        FormX& form = *w.form;
        QCOMPARE(form.windowTitle(), QStringLiteral("MOATGATE - Script Security and Trusted Sites Manager"));
        const QAbstractItemModel* model = form.LVw->model();
        QStringList headers;
        for (int c = 0; c < 3; ++c) headers << model->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers, (QStringList{"Protocol", "Subdomain", "Trusted Website Domains"}));
        auto px = [dpi = form.logicalDpiX()](int twips) { return TwipsToPixels(twips, dpi); };
        QCOMPARE(form.LVw->columnWidth(0), px(1550));
        QCOMPARE(form.LVw->columnWidth(1), px(2820));
        // Shown, the list and its last column fill the window as the resize rules say.
        QVERIFY(form.LVw->pos() == QPoint(px(60), px(1200)) && Near(form.LVw->width(), px(11880 - 240)) &&
                Near(form.LVw->height(), px(8565 - 3750)));
        QVERIFY(Near(form.LVw->columnWidth(2), px(11640 - 2820 - 1550 - 333)));

        QCOMPARE(Column(form, 2), (QStringList{"odd.example", "trusted.example", "zero.example"}));
        // Picture 2 on the trusted row; none (a blank) for zone 0 and for a number with no picture.
        auto picture = [&](int row) {
            return model->index(row, 0).data(Qt::DecorationRole).value<QIcon>().pixmap(16, 16).toImage();
        };
        QCOMPARE(picture(1), form.ImageList11().Picture(2).pixmap(16, 16).toImage());
        QCOMPARE(picture(0), picture(2));
        for (int i : {1, 2, 3, 4, 5, 6, 7, 9, 10}) QVERIFY2(!form.ImageList11().Picture(i).isNull(), "a picture is missing");
        QVERIFY(!(model->flags(model->index(0, 2)) & Qt::ItemIsEditable));  // rows are never edited in place

        // Widened, the list stretches and the right-hand buttons move along.
        const QRect list = form.LVw->geometry(), print = form.cmdPrint->geometry();
        form.resize(form.width() + px(1000), form.height());
        QVERIFY(Near(form.LVw->width() - list.width(), px(1000)) && form.LVw->pos() == list.topLeft());
        QVERIFY(Near(form.cmdPrint->x() - print.x(), px(1000)) && form.cmdPrint->y() == print.y());
    }

    void columnClicksSortAndTheReloadKeepsTheOrder() {
        test::Window w({{"b.example", "ftp", 2}, {"a.example", "https", 3}, {"c.example", "http", 4}});
        w.Show();
        FormX& form = *w.form;
        QCOMPARE(Column(form, 2), (QStringList{"a.example", "b.example", "c.example"}));
        test::ClickHeader(form, 0);  // "Protocol": ascending first
        QCOMPARE(Column(form, 0), (QStringList{"ftp", "http", "https"}));
        test::ClickHeader(form, 0);  // then descending
        QCOMPARE(Column(form, 0), (QStringList{"https", "http", "ftp"}));
        form.Refresher();  // back on the domain column, in the order last chosen
        QCOMPARE(Column(form, 2), (QStringList{"c.example", "b.example", "a.example"}));
        QCOMPARE(form.LVw->header()->sortIndicatorSection(), 2);
    }

    // An event that arrives while the list is read (a click on a picture, a
    // close) waits for the reading to end: no fill inside the running one.
    void aReloadOrACloseDuringAReloadWaitsForItsEnd() {
        for (const bool close : {false, true}) {
            test::Window w;
            for (int i = 0; i < 50; ++i)
                for (const char* protocol : {"http", "https"})
                    test::Zone(w.reg, "site" + std::to_string(i) + ".example", protocol, 2);
            w->show();
            bool askedDuringFill = false;
            int fillsWhenAsked = -1;
            QTimer::singleShot(0, w.form.get(), [&] {
                askedDuringFill = w->IsFilling();
                close ? void(w->close()) : w->Refresher();
                fillsWhenAsked = w->FillCount();
            });
            w->Refresher();
            QVERIFY(askedDuringFill);
            QCOMPARE(fillsWhenAsked, 0);
            QCOMPARE(w->FillCount(), close ? 1 : 2);  // the second ran once the first had ended
            QCOMPARE(w->isVisible(), !close);
            QCOMPARE(w->LVw->model()->rowCount(), 100);
        }
    }

};

QTEST_MAIN(FormXTest)
#include "FormXTest.moc"