// The main window's site list, driven as a person drives it.
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include "app/Startup.h"
#include "main_window/FormX.h"
#include "main_window/core/Twips.h"
#include "registry/SettingsKeys.h"
#include "registry/store/HiveRegistry.h"
#include "tests/gui/FakeMessageBoxes.h"
#include "tests/unit/TestSupport.h"

using namespace moatgate;

namespace {

void Unzone(RegistryApi& reg, const std::string& site) {
    reg.RegDeleteKeyA(HKEY_CURRENT_USER, std::string(kZoneMapKey) + "\\" + site);
}

QStringList Column(const FormX& form, int column) {
    QStringList out;
    const QAbstractItemModel* model = form.LVw->model();
    for (int r = 0; r < model->rowCount(); ++r) out << model->index(r, column).data().toString();
    return out;
}

QList<int> SelectedRows(const FormX& form) {
    QList<int> rows;
    for (const QModelIndex& i : form.LVw->selectionModel()->selectedRows()) rows << i.row() + 1;
    return rows;
}

void ClickHeader(FormX& form, int column) {
    QHeaderView* header = form.LVw->header();
    const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
}

}  // namespace

class FormXTest : public QObject {
    Q_OBJECT
    test::FakeMessageBoxes boxes;
private slots:
    void theListLooksAsDesigned() {
        MemoryStore reg;
        test::Zone(reg, "trusted.example", "*", 2);
        test::Zone(reg, "odd.example", "http", 77);
        test::Zone(reg, "zero.example", "http", 0);
        FormX form(reg, boxes);
        form.show();
        form.Refresher();
        QCOMPARE(form.windowTitle(), QStringLiteral("MOATGATE - Script Security and Trusted Sites Manager"));
        QCOMPARE(form.LVw->objectName(), QStringLiteral("LVw"));
        const QAbstractItemModel* model = form.LVw->model();
        QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Protocol"));
        QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Subdomain"));
        QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Trusted Website Domains"));
        const int dpi = form.logicalDpiX();
        QCOMPARE(form.LVw->columnWidth(0), TwipsToPixels(1550, dpi));
        QCOMPARE(form.LVw->columnWidth(1), TwipsToPixels(2820, dpi));
        // Shown, the list and its last column fill the window as the resize rules say.
        QCOMPARE(form.LVw->pos(), QPoint(TwipsToPixels(60, dpi), TwipsToPixels(1200, dpi)));
        QVERIFY(std::abs(form.LVw->width() - TwipsToPixels(11880 - 240, dpi)) <= 1);
        QVERIFY(std::abs(form.LVw->height() - TwipsToPixels(8565 - 3750, dpi)) <= 1);
        QVERIFY(std::abs(form.LVw->columnWidth(2) - TwipsToPixels(11640 - 2820 - 1550 - 333, dpi)) <= 1);
        QCOMPARE(form.LVw->selectionMode(), QAbstractItemView::SingleSelection);

        QCOMPARE(Column(form, 2), (QStringList{"odd.example", "trusted.example", "zero.example"}));
        const QFont font = model->index(0, 0).data(Qt::FontRole).value<QFont>();
        QCOMPARE(font.family(), QStringLiteral("Verdana"));
        QCOMPARE(font.pointSize(), 12);
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
    }

    // Every control carries its design name, by which other programs (and these
    // tests) find it; the commands share the switch's font.
    void everyControlHasItsNameAndTheCommandsTheirFont() {
        MemoryStore reg;
        FormX form(reg, boxes);
        const QList<QPair<QObject*, QString>> named = {
            {form.LVw, "LVw"}, {form.txtURL, "txtURL"}, {form.cmdSecure, "cmdSecure"}, {form.cmdTrust, "cmdTrust"},
            {form.cmdDeclassify, "cmdDeclassify"}, {form.cmdRestrict, "cmdRestrict"}, {form.cmdAdd, "cmdAdd"},
            {form.cmdDelete, "cmdDelete"}, {form.cmdAddd, "cmdAddd"}, {form.cmdHelp, "cmdHelp"},
            {form.cmdPrint, "cmdPrint"}, {form.rT, "rT"}, {form.pSecured, "pSecured"},
            {form.pSemisecure, "pSemisecure"}, {form.pUnsecure, "pUnsecure"}, {form.lblWarning, "lblWarning"},
            {form.Label9, "Label9"}, {form.ImageSecure, "ImageSecure"}, {form.Label8, "Label8"},
            {form.Label7, "Label7"}, {form.Image7, "Image7"}, {form.Label6, "Label6"}, {form.Label2, "Label2"},
            {form.Image6, "Image6"}, {form.Frame1, "Frame1"}, {form.Picture1, "Picture1"}, {form.Image1, "Image1"},
            {form.Image2, "Image2"}, {form.Label1, "Label1"}, {form.Line1, "Line1"}, {form.Image3, "Image3"},
            {form.Label3, "Label3"}, {form.Line2, "Line2"}, {form.Image4, "Image4"}, {form.Label4, "Label4"},
            {form.Line3, "Line3"}, {form.Image5, "Image5"}, {form.Label5, "Label5"}};
        for (const auto& [object, name] : named) {
            QVERIFY2(object, qPrintable(name));
            QCOMPARE(object->objectName(), name);
            QCOMPARE(form.findChild<QObject*>(name), object);
        }
        for (QToolButton* command : {form.cmdSecure, form.cmdTrust, form.cmdDeclassify, form.cmdRestrict, form.cmdAdd,
                                     form.cmdDelete, form.cmdHelp, form.cmdPrint}) {
            const QFont font = command->font();
            QCOMPARE(font.family(), QStringLiteral("MS Sans Serif"));
            QCOMPARE(font.pointSizeF(), 8.25);
            QVERIFY2(font.bold(), qPrintable(command->objectName()));
        }
    }

    // A window too small for the resize rules keeps the columns as designed.
    void aSmallWindowKeepsTheDesignColumns() {
        MemoryStore reg;
        FormX form(reg, boxes);
        const int dpi = form.logicalDpiX();
        form.resize(TwipsToPixels(9000, dpi), TwipsToPixels(4000, dpi));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.LVw->columnWidth(0), TwipsToPixels(1550, dpi));
        QCOMPARE(form.LVw->columnWidth(1), TwipsToPixels(2820, dpi));
        QCOMPARE(form.LVw->columnWidth(2), TwipsToPixels(4700, dpi));
    }

    void rowsAreNeverEditedInPlace() {
        MemoryStore reg;
        test::Zone(reg, "a.example", "*", 2);
        FormX form(reg, boxes);
        form.show();
        form.Refresher();
        std::int16_t cancel = 0;
        form.LVw_BeforeLabelEdit(cancel);
        QCOMPARE(cancel, std::int16_t{1});
        const QModelIndex cell = form.LVw->model()->index(0, 2);
        QTest::mouseDClick(form.LVw->viewport(), Qt::LeftButton, {}, form.LVw->visualRect(cell).center());
        QTest::keyClick(form.LVw, Qt::Key_F2);
        QTest::keyClicks(form.LVw, "changed");
        QTest::keyClick(form.LVw, Qt::Key_Return);
        QCOMPARE(Column(form, 2), QStringList{"a.example"});
        QVERIFY(!(form.LVw->model()->flags(cell) & Qt::ItemIsEditable));
    }

    void theSelectionFollowsThePosition() {
        MemoryStore reg;
        test::Zone(reg, "a.example", "*", 2);
        test::Zone(reg, "b.example", "*", 3);
        test::Zone(reg, "c.example", "*", 4);
        FormX form(reg, boxes);
        form.show();
        form.Refresher();
        QCOMPARE(SelectedRows(form), QList<int>{1});  // the list grew from nothing: row 1

        // Nothing selected and 3 rows; a reload with 4 selects row 4, whichever site it is.
        form.LVw->selectionModel()->clearSelection();
        QCOMPARE(FirstSelectedRow(form.Sites()), std::size_t{4});
        test::Zone(reg, "0first.example", "*", 2);
        form.Refresher();
        QCOMPARE(SelectedRows(form), QList<int>{4});
        QCOMPARE(Column(form, 2)[3], QStringLiteral("c.example"));

        // Row 2 selected (by a real click) stays row 2, though it shows another site now.
        const QModelIndex second = form.LVw->model()->index(1, 2);
        QTest::mouseClick(form.LVw->viewport(), Qt::LeftButton, {}, form.LVw->visualRect(second).center());
        QCOMPARE(FirstSelectedRow(form.Sites()), std::size_t{2});
        Unzone(reg, "0first.example");
        form.Refresher();
        QCOMPARE(SelectedRows(form), QList<int>{2});
        QCOMPARE(Column(form, 2)[1], QStringLiteral("b.example"));

        // Nothing selected and fewer rows after the reload: nothing is selected.
        form.LVw->selectionModel()->clearSelection();
        Unzone(reg, "c.example");
        form.Refresher();
        QVERIFY(SelectedRows(form).isEmpty());

        // An empty list that stays empty selects nothing.
        MemoryStore none;
        FormX empty(none, boxes);
        empty.Refresher();
        empty.Refresher();
        QVERIFY(SelectedRows(empty).isEmpty());
    }

    void columnClicksSortAndTheReloadKeepsTheOrder() {
        MemoryStore reg;
        test::Zone(reg, "b.example", "ftp", 2);
        test::Zone(reg, "a.example", "https", 3);
        test::Zone(reg, "c.example", "http", 4);
        FormX form(reg, boxes);
        form.show();
        form.Refresher();
        QCOMPARE(Column(form, 2), (QStringList{"a.example", "b.example", "c.example"}));
        ClickHeader(form, 0);  // "Protocol": ascending first
        QCOMPARE(Column(form, 0), (QStringList{"ftp", "http", "https"}));
        ClickHeader(form, 0);  // then descending
        QCOMPARE(Column(form, 0), (QStringList{"https", "http", "ftp"}));
        QCOMPARE(form.LVw->header()->sortIndicatorOrder(), Qt::DescendingOrder);
        form.Refresher();  // back on the domain column, in the order last chosen
        QCOMPARE(Column(form, 2), (QStringList{"c.example", "b.example", "a.example"}));
        QCOMPARE(form.LVw->header()->sortIndicatorSection(), 2);
        QCOMPARE(form.Sites().SortKey(), SiteColumn::Domain);
        QCOMPARE(form.Sites().SortOrder(), SortOrder::Descending);
    }

    void aReloadAskedForDuringAReloadDoesNotNest() {
        MemoryStore reg;
        for (int i = 0; i < 50; ++i) {
            const std::string site = "site" + std::to_string(i) + ".example";
            test::Zone(reg, site, "http", 2);
            test::Zone(reg, site, "https", 4);
        }
        FormX form(reg, boxes);
        form.show();
        bool askedDuringFill = false;
        int fillsWhenAsked = -1;
        // An event that arrives while the list is being read, as a click on a picture would.
        QTimer::singleShot(0, &form, [&] {
            askedDuringFill = form.IsFilling();
            form.Refresher();
            fillsWhenAsked = form.FillCount();
        });
        form.Refresher();
        QVERIFY(askedDuringFill);
        QCOMPARE(fillsWhenAsked, 0);     // it did not start a fill inside the running one
        QCOMPARE(form.FillCount(), 2);   // but ran once the first had ended
        QVERIFY(!form.IsFilling());
        QCOMPARE(form.LVw->model()->rowCount(), 100);
    }

    void closingDuringAReloadWaitsForItsEnd() {
        MemoryStore reg;
        for (int i = 0; i < 20; ++i) {
            test::Zone(reg, "s" + std::to_string(i) + ".example", "http", 2);
            test::Zone(reg, "s" + std::to_string(i) + ".example", "https", 2);
        }
        FormX form(reg, boxes);
        form.show();
        QTimer::singleShot(0, &form, [&] { form.close(); });
        form.Refresher();
        QVERIFY(!form.isVisible());
        QCOMPARE(form.LVw->model()->rowCount(), 40);
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
        QVERIFY(OpenStoreOrExplain(env, explain));
        QCOMPARE(explain.shown.size(), 1);

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

    void theWindowKeepsItsArrangementAsItIsResized() {
        MemoryStore reg;
        FormX form(reg, boxes);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const int dpi = form.logicalDpiX();
        auto px = [dpi](int twips) { return TwipsToPixels(twips, dpi); };
        auto near = [](int a, int b) { return std::abs(a - b) <= 1; };  // twips round to pixels
        QCOMPARE(form.size(), QSize(px(11760), px(8055)));
        // At the design size the list and the logo sit where they were drawn.
        QVERIFY(near(form.LVw->height(), px(4815)));
        QVERIFY(near(form.Frame1->y(), px(6240)));
        QVERIFY(near(form.Line2->geometry().center().y(), form.Image4->y()));
        QVERIFY(near(form.Line3->geometry().center().y(), form.Image5->y()));
        QVERIFY(near(form.Line1->geometry().center().y(), form.Image3->y() - px(60)));
        // The legend's pictures stand in one column where its separators begin.
        for (QWidget* picture : {form.Image3, form.Image4, form.Image5})
            QVERIFY2(near(picture->x(), form.Line1->x()), qPrintable(picture->objectName()));
        QCOMPARE(form.Label1->text(),
                 QStringLiteral("Can run any script on your computer - Only for Banks and Escrow providers you can "
                                "trust with your life savings!"));
        QCOMPARE(form.Label5->text(),
                 QStringLiteral("Delete Site - This removes the site from the list when it no longer warrants Trusted "
                                "or Restricted Status."));

        struct Place {
            QWidget* widget;
            QRect at;
        };
        auto places = [&] {
            QList<Place> all;
            for (QWidget* w : std::initializer_list<QWidget*>{
                     form.cmdSecure, form.cmdTrust, form.cmdDeclassify, form.cmdRestrict, form.cmdAdd, form.cmdPrint,
                     form.cmdDelete, form.cmdHelp, form.cmdAddd, form.txtURL, form.LVw, form.Frame1, form.Image2,
                     form.Label1, form.Image5, form.Label5, form.Line3})
                all.append({w, w->geometry()});
            return all;
        };
        const QList<Place> before = places();
        const int wider = px(1000);
        form.resize(form.width() + wider, form.height());
        const QList<Place> after = places();
        const QList<QWidget*> moving = {form.cmdPrint, form.cmdDelete, form.cmdHelp, form.cmdAddd, form.Image2,
                                        form.Label1, form.Image5, form.Label5, form.Line3};
        for (int i = 0; i < before.size(); ++i) {
            const QRect& a = before[i].at;
            const QRect& b = after[i].at;
            const QString name = before[i].widget->objectName();
            QVERIFY2(b.top() == a.top(), qPrintable(name));
            if (moving.contains(before[i].widget))
                QVERIFY2(near(b.left() - a.left(), wider), qPrintable(name));
            else
                QVERIFY2(b.left() == a.left(), qPrintable(name));
        }
        QVERIFY(near(form.LVw->width() - before[10].at.width(), wider));
        QVERIFY(near(form.txtURL->width() - before[9].at.width(), wider));
        const QHeaderView* header = form.LVw->header();
        QVERIFY(near(header->sectionSize(0) + header->sectionSize(1) + header->sectionSize(2),
                     form.LVw->width() - px(333)));

        // Too small to lay out: everything stays where the last larger size put it.
        const QList<Place> large = places();
        form.resize(px(9000), px(4000));
        const QList<Place> small = places();
        for (int i = 0; i < large.size(); ++i) QCOMPARE(small[i].at, large[i].at);
    }
};

QTEST_MAIN(FormXTest)
#include "FormXTest.moc"
