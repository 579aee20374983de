// The main window's site list, driven as a person drives it.
#include <QItemSelectionModel>
#include <QTimer>

#include "app/Startup.h"
#include "main_window/core/Twips.h"
#include "tests/gui/TestWindow.h"

using namespace moatgate;
using test::Column;

namespace {

QList<int> SelectedRows(const FormX& form) {
    QList<int> rows;
    for (const QModelIndex& i : form.LVw->selectionModel()->selectedRows()) rows << i.row() + 1;
    return rows;
}

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
        const int dpi = form.logicalDpiX();
        auto px = [dpi](int twips) { return TwipsToPixels(twips, dpi); };
        QCOMPARE(form.LVw->columnWidth(0), px(1550));
        QCOMPARE(form.LVw->columnWidth(1), px(2820));
        // Shown, the list and its last column fill the window as the resize rules say.
        QCOMPARE(form.LVw->pos(), QPoint(px(60), px(1200)));
        QVERIFY(Near(form.LVw->width(), px(11880 - 240)));
        QVERIFY(Near(form.LVw->height(), px(8565 - 3750)));
        QVERIFY(Near(form.LVw->columnWidth(2), px(11640 - 2820 - 1550 - 333)));
        QCOMPARE(form.LVw->selectionMode(), QAbstractItemView::SingleSelection);

        QCOMPARE(Column(form, 2), (QStringList{"odd.example", "trusted.example", "zero.example"}));
        const QFont font = model->index(0, 0).data(Qt::FontRole).value<QFont>();
        QCOMPARE(font.family() + QString::number(font.pointSize()), QStringLiteral("Verdana12"));
        // Picture 2 on the trusted row; none (a blank) for zone 0 and for a number with no picture.
        auto picture = [&](int row) {
            return model->index(row, 0).data(Qt::DecorationRole).value<QIcon>().pixmap(16, 16).toImage();
        };
        QCOMPARE(picture(1), form.ImageList11().Picture(2).pixmap(16, 16).toImage());
        QVERIFY(picture(0) != picture(1));
        QCOMPARE(picture(0), picture(2));
        for (int i : {1, 2, 3, 4, 5, 6, 7, 9, 10}) QVERIFY2(!form.ImageList11().Picture(i).isNull(), "a picture is missing");
        for (int i = 1; i <= 10; ++i)
            for (int j = i + 1; j <= 10; ++j)
                if (!form.ImageList11().Picture(i).isNull() && !form.ImageList11().Picture(j).isNull())
                    QVERIFY(form.ImageList11().Picture(i).pixmap(16, 16).toImage() !=
                            form.ImageList11().Picture(j).pixmap(16, 16).toImage());

        std::int16_t cancel = 0;  // rows are never edited in place
        form.LVw_BeforeLabelEdit(cancel);
        QCOMPARE(cancel, std::int16_t{1});
        const QModelIndex cell = model->index(0, 2);
        QTest::mouseDClick(form.LVw->viewport(), Qt::LeftButton, {}, form.LVw->visualRect(cell).center());
        QTest::keyClick(form.LVw, Qt::Key_F2);
        QTest::keyClicks(form.LVw, "changed");
        QTest::keyClick(form.LVw, Qt::Key_Return);
        QCOMPARE(Column(form, 2)[0], QStringLiteral("odd.example"));
        QVERIFY(!(model->flags(cell) & Qt::ItemIsEditable));
    }

    // Every control carries its design name, by which other programs (and these
    // tests) find it; the commands share the switch's font.
    void everyControlHasItsNameAndTheCommandsTheirFont() {
        test::Window w;
        const FormX& f = *w.form;
#define NAMED(x) {f.x, #x}
        const QList<QPair<QObject*, QString>> named = {
            NAMED(LVw), NAMED(txtURL), NAMED(cmdSecure), NAMED(cmdTrust), NAMED(cmdDeclassify), NAMED(cmdRestrict),
            NAMED(cmdAdd), NAMED(cmdDelete), NAMED(cmdAddd), NAMED(cmdHelp), NAMED(cmdPrint), NAMED(rT),
            NAMED(pSecured), NAMED(pSemisecure), NAMED(pUnsecure), NAMED(lblWarning), NAMED(Label9),
            NAMED(ImageSecure), NAMED(Label8), NAMED(Label7), NAMED(Image7), NAMED(Label6), NAMED(Label2),
            NAMED(Image6), NAMED(Frame1), NAMED(Picture1), NAMED(Image1), NAMED(Image2), NAMED(Label1), NAMED(Line1),
            NAMED(Image3), NAMED(Label3), NAMED(Line2), NAMED(Image4), NAMED(Label4), NAMED(Line3), NAMED(Image5),
            NAMED(Label5)};
#undef NAMED
        for (const auto& [object, name] : named) {
            QVERIFY2(object, qPrintable(name));
            QCOMPARE(f.findChild<QObject*>(name), object);
        }
        for (QToolButton* command : {f.cmdSecure, f.cmdTrust, f.cmdDeclassify, f.cmdRestrict, f.cmdAdd, f.cmdDelete,
                                     f.cmdHelp, f.cmdPrint}) {
            const QFont font = command->font();
            QCOMPARE(font.family(), QStringLiteral("MS Sans Serif"));
            QCOMPARE(font.pointSizeF(), 8.25);
            QVERIFY2(font.bold(), qPrintable(command->objectName()));
        }
    }

    void theSelectionFollowsThePosition() {
        test::Window w({{"a.example", "*", 2}, {"b.example", "*", 3}, {"c.example", "*", 4}});
        w.Show();
        FormX& form = *w.form;
        QCOMPARE(SelectedRows(form), QList<int>{1});  // the list grew from nothing: row 1

        // Nothing selected and 3 rows; a reload with 4 selects row 4, whichever site it is.
        form.LVw->selectionModel()->clearSelection();
        QCOMPARE(FirstSelectedRow(form.Sites()), std::size_t{4});
        test::Zone(w.reg, "0first.example", "*", 2);
        form.Refresher();
        QCOMPARE(SelectedRows(form), QList<int>{4});
        QCOMPARE(Column(form, 2)[3], QStringLiteral("c.example"));

        // Row 2 selected (by a real click) stays row 2, though it shows another site now.
        const QModelIndex second = form.LVw->model()->index(1, 2);
        QTest::mouseClick(form.LVw->viewport(), Qt::LeftButton, {}, form.LVw->visualRect(second).center());
        QCOMPARE(FirstSelectedRow(form.Sites()), std::size_t{2});
        const std::string domains = std::string(kZoneMapKey) + "\\";
        w.reg.RegDeleteKeyA(HKEY_CURRENT_USER, domains + "0first.example");
        form.Refresher();
        QCOMPARE(SelectedRows(form), QList<int>{2});
        QCOMPARE(Column(form, 2)[1], QStringLiteral("b.example"));

        // Nothing selected and fewer rows after the reload: nothing is selected.
        form.LVw->selectionModel()->clearSelection();
        w.reg.RegDeleteKeyA(HKEY_CURRENT_USER, domains + "c.example");
        form.Refresher();
        QVERIFY(SelectedRows(form).isEmpty());

        test::Window empty;  // an empty list that stays empty selects nothing
        empty->Refresher();
        empty->Refresher();
        QVERIFY(SelectedRows(*empty.form).isEmpty());
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
        QCOMPARE(form.LVw->header()->sortIndicatorOrder(), Qt::DescendingOrder);
        form.Refresher();  // back on the domain column, in the order last chosen
        QCOMPARE(Column(form, 2), (QStringList{"c.example", "b.example", "a.example"}));
        QCOMPARE(form.LVw->header()->sortIndicatorSection(), 2);
        QCOMPARE(form.Sites().SortKey(), SiteColumn::Domain);
        QCOMPARE(form.Sites().SortOrder(), SortOrder::Descending);
    }

    // An event that arrives while the list is read (a click on a picture, a
    // close) waits for the reading to end: no fill inside the running one.
    void aReloadOrACloseDuringAReloadWaitsForItsEnd() {
        test::Window w;
        for (int i = 0; i < 50; ++i) {
            test::Zone(w.reg, "site" + std::to_string(i) + ".example", "http", 2);
            test::Zone(w.reg, "site" + std::to_string(i) + ".example", "https", 4);
        }
        w->show();
        bool askedDuringFill = false;
        int fillsWhenAsked = -1;
        QTimer::singleShot(0, w.form.get(), [&] {
            askedDuringFill = w->IsFilling();
            w->Refresher();
            fillsWhenAsked = w->FillCount();
        });
        w->Refresher();
        QVERIFY(askedDuringFill);
        QCOMPARE(fillsWhenAsked, 0);
        QCOMPARE(w->FillCount(), 2);  // but ran once the first had ended
        QVERIFY(!w->IsFilling());
        QCOMPARE(w->LVw->model()->rowCount(), 100);

        test::Window closing;
        for (int i = 0; i < 20; ++i)
            for (const char* protocol : {"http", "https"}) test::Zone(closing.reg, "s" + std::to_string(i) + ".example", protocol, 2);
        closing->show();
        QTimer::singleShot(0, closing.form.get(), [&] { closing->close(); });
        closing->Refresher();
        QVERIFY(!closing->isVisible());
        QCOMPARE(closing->LVw->model()->rowCount(), 40);
    }

    void anUnreadableStoreIsExplainedAndLeftAlone() {
        test::TempDir dir;
        const std::string path = dir.file("user.reg");
        const std::string bad = "\xef\xbb\xbfWINE REGISTRY Version 2\n[Software\\\\X]\n";  // Wine rejects it whole
        test::WriteFile(path, bad);
        test::FakeMessageBoxes explain;
        auto env = [&](const char* name) -> const char* {
            return std::string(name) == "MOATGATE_REGISTRY" ? path.c_str() : nullptr;
        };
        QVERIFY(!OpenStoreOrExplain(env, explain));
        QCOMPARE(explain.shown.size(), 1);
        QCOMPARE(explain.shown[0].icon, MessageBoxes::Icon::Critical);
        QVERIFY2(explain.shown[0].prompt.contains(QString::fromStdString(path + ":1: not a valid registry file")),
                 qPrintable(explain.shown[0].prompt));
        QCOMPARE(test::ReadFile(path), bad);

        test::WriteFile(path, "WINE REGISTRY Version 2\n");
        TellIfReadOnly(*OpenStoreOrExplain(env, explain), explain);  // whole: nothing to say
        QCOMPARE(explain.shown.size(), 1);

        // A line that cannot be taken as written: the rest is read and shown, and
        // the user is told before the window opens that nothing can be changed.
        const std::string partly = "WINE REGISTRY Version 2\n[Software\\\\X]\n\"x\"=DWORD:1\n";
        test::WriteFile(path, partly);
        auto store = OpenStoreOrExplain(env, explain);
        QVERIFY(store);
        QCOMPARE(explain.shown.size(), 1);
        QVERIFY(store->UnwritableReason().find(path + ":3: Malformed value") == 0);
        TellIfReadOnly(*store, explain);
        QCOMPARE(explain.shown.size(), 2);
        QCOMPARE(explain.shown[1].icon, MessageBoxes::Icon::Exclamation);
        QVERIFY(explain.shown[1].prompt.contains(QString::fromStdString(path + ":3: Malformed value")));
        QVERIFY(explain.shown[1].prompt.contains(QStringLiteral("changes nothing until that line is mended")));
        QCOMPARE(test::ReadFile(path), partly);
    }

    // Widening moves the right-hand controls and stretches the list and the box;
    // a window too small to lay out keeps the last arrangement, and one opened
    // too small keeps the design columns.
    void theWindowKeepsItsArrangementAsItIsResized() {
        test::Window w;
        FormX& form = *w.form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const int dpi = form.logicalDpiX();
        auto px = [dpi](int twips) { return TwipsToPixels(twips, dpi); };
        QCOMPARE(form.size(), QSize(px(11760), px(8055)));
        // At the design size the logo and the legend sit where they were drawn.
        QVERIFY(Near(form.Frame1->y(), px(6240)));
        QVERIFY(Near(form.Line2->geometry().center().y(), form.Image4->y()));
        QVERIFY(Near(form.Line3->geometry().center().y(), form.Image5->y()));
        QVERIFY(Near(form.Line1->geometry().center().y(), form.Image3->y() - px(60)));
        for (QWidget* picture : {form.Image3, form.Image4, form.Image5})
            QVERIFY2(Near(picture->x(), form.Line1->x()), qPrintable(picture->objectName()));
        QCOMPARE(form.Label1->text(),
                 QStringLiteral("Can run any script on your computer - Only for Banks and Escrow providers you can "
                                "trust with your life savings!"));
        QCOMPARE(form.Label5->text(),
                 QStringLiteral("Delete Site - This removes the site from the list when it no longer warrants Trusted "
                                "or Restricted Status."));

        const QList<QWidget*> fixed = {form.cmdSecure, form.cmdTrust, form.cmdDeclassify, form.cmdRestrict,
                                       form.cmdAdd, form.txtURL, form.LVw, form.Frame1},
                              moving = {form.cmdPrint, form.cmdDelete, form.cmdHelp, form.cmdAddd, form.Image2,
                                        form.Label1, form.Image5, form.Label5, form.Line3};
        auto places = [&] {
            QList<QRect> all;
            for (QWidget* widget : fixed + moving) all << widget->geometry();
            return all;
        };
        const QList<QRect> before = places();
        const int wider = px(1000);
        form.resize(form.width() + wider, form.height());
        const QList<QRect> after = places();
        for (int i = 0; i < before.size(); ++i) {
            const QString name = (fixed + moving)[i]->objectName();
            QVERIFY2(after[i].top() == before[i].top(), qPrintable(name));
            const int moved = after[i].left() - before[i].left();
            QVERIFY2(i < fixed.size() ? moved == 0 : Near(moved, wider), qPrintable(name));
        }
        QVERIFY(Near(form.LVw->width() - before[6].width(), wider));
        QVERIFY(Near(form.txtURL->width() - before[5].width(), wider));
        const QHeaderView* header = form.LVw->header();
        QVERIFY(Near(header->sectionSize(0) + header->sectionSize(1) + header->sectionSize(2),
                     form.LVw->width() - px(333)));

        const QList<QRect> large = places();
        form.resize(px(9000), px(4000));
        QCOMPARE(places(), large);

        test::Window small;
        small->resize(px(9000), px(4000));
        small->show();
        QVERIFY(QTest::qWaitForWindowExposed(small.form.get()));
        QCOMPARE(small->LVw->columnWidth(0), px(1550));
        QCOMPARE(small->LVw->columnWidth(1), px(2820));
        QCOMPARE(small->LVw->columnWidth(2), px(4700));
    }
};

QTEST_MAIN(FormXTest)
#include "FormXTest.moc"
