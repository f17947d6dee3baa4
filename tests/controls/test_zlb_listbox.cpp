#include "ZLBColumnSort.h"
#include "ZLBListBox.h"
#include "ZLBTextFit.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace {

void SendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

void Click(QWidget* w, QPoint pos)
{
    SendMouse(w, QEvent::MouseButtonPress, pos, Qt::LeftButton);
    SendMouse(w, QEvent::MouseButtonRelease, pos, Qt::NoButton);
}

struct ListFixture : ::testing::Test {
    TZLBListBox list;

    void AddSections(std::initializer_list<int> widths)
    {
        int n = 0;
        for (int width : widths) {
            TZLBHeaderSection* section = list.HeaderSections()->Add();
            section->SetWidth(width);
            section->SetText(QStringLiteral("Column %1").arg(n++));
        }
    }

    void Show(int width = 400)
    {
        list.resize(width, 200);
        list.show();
        QCoreApplication::processEvents();
    }

    std::vector<int> Widths() const
    {
        std::vector<int> widths;
        for (int i = 0; i < list.HeaderSections()->Count(); ++i)
            widths.push_back(list.HeaderSections()->Items(i)->Width());
        return widths;
    }

    int Total() const
    {
        const std::vector<int> w = Widths();
        return std::accumulate(w.begin(), w.end(), 0);
    }

    void ClickSection(int index)
    {
        const int right = list.Header()->SectionRight(index);
        Click(list.Header(), QPoint(right - list.HeaderSections()->Items(index)->Width() / 2, 8));
    }

    // Drags the right boundary of a section by the given steps in one gesture.
    void DragBoundary(int index, std::initializer_list<int> moves)
    {
        TZLBHeaderControl* header = list.Header();
        int x = header->SectionRight(index);
        SendMouse(header, QEvent::MouseButtonPress, QPoint(x, 8), Qt::LeftButton);
        for (int move : moves) {
            x += move;
            SendMouse(header, QEvent::MouseMove, QPoint(x, 8), Qt::LeftButton);
        }
        SendMouse(header, QEvent::MouseButtonRelease, QPoint(x, 8), Qt::NoButton);
    }
};

}

TEST(ZLBColumnText, FieldsBetweenSemicolons)
{
    EXPECT_EQ(TZLBListBox::ColumnText("Serial number;12345", 0), "Serial number");
    EXPECT_EQ(TZLBListBox::ColumnText("Serial number;12345", 1), "12345");
    EXPECT_EQ(TZLBListBox::ColumnText("a;b;c", 1), "b");
    EXPECT_EQ(TZLBListBox::ColumnText("a;b;c", 2), "c");
    EXPECT_EQ(TZLBListBox::ColumnText("a;b;c", 3), "");
    EXPECT_EQ(TZLBListBox::ColumnText("a;b;c", -1), "");
    EXPECT_EQ(TZLBListBox::ColumnText(";x;", 0), "");
    EXPECT_EQ(TZLBListBox::ColumnText(";x;", 2), "");
}

TEST(ZLBCellTexts, TheLastColumnTakesTheRestOfTheItem)
{
    EXPECT_EQ(TMListBox::CellTexts("Serial number;12345", 2), QStringList({"Serial number", "12345"}));
    EXPECT_EQ(TMListBox::CellTexts("a;b;c", 2), QStringList({"a", "b;c"}));
    EXPECT_EQ(TMListBox::CellTexts("a;b;c", 3), QStringList({"a", "b", "c"}));
    EXPECT_EQ(TMListBox::CellTexts("a;b;c", 1), QStringList({"a;b;c"}));
    EXPECT_EQ(TMListBox::CellTexts("a", 3), QStringList({"a", "", ""}));
    EXPECT_EQ(TMListBox::CellTexts(";x;", 2), QStringList({"", "x;"}));
    EXPECT_TRUE(TMListBox::CellTexts("a;b", 0).isEmpty());
}

TEST(ZLBColumnSort, NumbersEmptyTextsAndWords)
{
    double value = 0;
    EXPECT_TRUE(ZLBColumnSort::ParseNumber(" -2.5e3 ", value));
    EXPECT_EQ(value, -2500);
    EXPECT_TRUE(ZLBColumnSort::ParseNumber(".5", value));
    for (const char* text : {"", " ", "1,5", "abc", "inf", "nan", "0x10", "1e"})
        EXPECT_FALSE(ZLBColumnSort::ParseNumber(text, value)) << text;

    using ZLBColumnSort::CompareKeys;
    EXPECT_LT(CompareKeys("9", "10"), 0);
    EXPECT_LT(CompareKeys("", "2.5"), 0);
    EXPECT_LT(CompareKeys("10", "abc"), 0);
    EXPECT_LT(CompareKeys("b", "aa"), 0);
    EXPECT_LT(CompareKeys("B", "a"), 0);
    EXPECT_EQ(CompareKeys("", ""), 0);
    EXPECT_EQ(CompareKeys("1.0", "1"), 0);
}

TEST(ZLBTextFit, LongTextsEndInDotsAndFit)
{
    const QFontMetrics metrics(QApplication::font());
    const QString cell = ZLBTextFit::FitCellText("A rather long description text", metrics, 50);
    EXPECT_TRUE(cell.endsWith("...")) << cell.toStdString();
    EXPECT_LE(metrics.horizontalAdvance(cell) + 4, 50);
    EXPECT_GT(cell.length(), 3);
    EXPECT_EQ(ZLBTextFit::FitCellText("ok", metrics, 50), "ok");
    EXPECT_EQ(ZLBTextFit::FitCellText("Whatever", metrics, 2), "...");

    const QString header = ZLBTextFit::FitHeaderText("Description of it", metrics, 40);
    EXPECT_TRUE(header.endsWith("..."));
    EXPECT_LE(metrics.horizontalAdvance(header), 40);
    EXPECT_EQ(ZLBTextFit::FitHeaderText("Abc", metrics, 1), "...");
}

TEST_F(ListFixture, SortingNumbersBeforeWordsAndShorterWordsFirst)
{
    AddSections({150, 150});
    list.SetItems({"x;10", "x;9", "x;abc", "x;", "x;2.5"});
    Show();
    ClickSection(1);
    EXPECT_EQ(list.Items(), QStringList({"x;", "x;2.5", "x;9", "x;10", "x;abc"}));

    list.SetItems({"b", "aa", "c"});
    ClickSection(0);
    EXPECT_EQ(list.Items(), QStringList({"b", "c", "aa"}));
}

TEST_F(ListFixture, ThreeClicksAscendingDescendingThenUnsorted)
{
    AddSections({100, 100, 100});
    list.SetItems({"b;2", "a;3", "c;1"});
    Show();

    ClickSection(1);
    EXPECT_EQ(list.Items(), QStringList({"c;1", "b;2", "a;3"}));
    EXPECT_EQ(list.Header()->SortedColumn(), 1);
    EXPECT_TRUE(list.Header()->SortAscending());
    EXPECT_TRUE(list.Header()->ArrowVisible());
    EXPECT_EQ(list.Header()->ArrowX(), 200 - 1 - 16 - 2);

    ClickSection(1);
    EXPECT_EQ(list.Items(), QStringList({"a;3", "b;2", "c;1"}));
    EXPECT_FALSE(list.Header()->SortAscending());

    ClickSection(1);
    EXPECT_EQ(list.Items(), QStringList({"a;3", "b;2", "c;1"}));
    EXPECT_EQ(list.Header()->SortedColumn(), -1);
    EXPECT_FALSE(list.Header()->ArrowVisible());

    // Another column starts ascending again.
    ClickSection(0);
    EXPECT_EQ(list.Items(), QStringList({"a;3", "b;2", "c;1"}));
    EXPECT_EQ(list.Header()->SortedColumn(), 0);
}

TEST_F(ListFixture, SortingSkipsDisabledSectionsAndEmptyLists)
{
    AddSections({100, 100});
    Show();
    ClickSection(0);
    EXPECT_EQ(list.Header()->SortedColumn(), -1);

    list.SetItems({"b", "a"});
    list.HeaderSections()->Items(0)->SetSortEnabled(false);
    ClickSection(0);
    EXPECT_EQ(list.Items(), QStringList({"b", "a"}));
    EXPECT_EQ(list.Header()->SortedColumn(), -1);
}

TEST_F(ListFixture, SortingMovesCheckStatesAndColoursWithTheirItems)
{
    AddSections({100, 100, 100});
    list.SetItems({";c", ";a", ";b"});
    list.SetItemChecked(0, true);
    list.SetItemCheckState(2, 2);
    list.SetItemColor(0, 0xff0000);
    list.SetItemColor(1, 0x00ff00);
    list.SetItemColor(2, 0x0000ff);
    list.SetCheckBoxColumn(0);
    Show();

    ClickSection(1);
    EXPECT_EQ(list.Items(), QStringList({";a", ";b", ";c"}));
    EXPECT_EQ(list.ItemColor(0), 0x00ff00u);
    EXPECT_EQ(list.ItemColor(1), 0x0000ffu);
    EXPECT_EQ(list.ItemColor(2), 0xff0000u);
    EXPECT_EQ(list.ItemCheckState(1), 2);
    EXPECT_TRUE(list.ItemChecked(2));

    // By the check box column: checked items first.
    ClickSection(0);
    EXPECT_EQ(list.Item(0), ";c");
    EXPECT_TRUE(list.ItemChecked(0));
}

TEST_F(ListFixture, DraggingABoundaryKeepsTheTotalAndTheMinimum)
{
    AddSections({100, 100, 100, 100});
    Show(420);
    const int total = Total();

    DragBoundary(1, {10, 20});
    EXPECT_EQ(Widths()[1], 130);
    EXPECT_EQ(Widths()[2], 70);
    EXPECT_EQ(Total(), total);

    // Far to the left: section 1 and then section 0 go down to the minimum.
    DragBoundary(1, {-500});
    EXPECT_EQ(Widths()[0], 20);
    EXPECT_EQ(Widths()[1], 20);
    EXPECT_EQ(Total(), total);

    // Far to the right: sections 2 and 3 give way down to the (raised)
    // minimum; section 1, already below it, gives nothing.
    list.SetColumnMinWidth(30);
    DragBoundary(0, {1000});
    EXPECT_EQ(Widths()[1], 20);
    EXPECT_EQ(Widths()[2], 30);
    EXPECT_EQ(Widths()[3], 30);
    EXPECT_EQ(Total(), total);
}

TEST_F(ListFixture, ADragGivesBackWhatItTookFromTheLeftFirst)
{
    AddSections({100, 100, 100});
    Show(310);
    const std::vector<int> before = Widths();
    // One gesture: squeeze sections 1 and 0, then move back to the start.
    DragBoundary(1, {-150, 150});
    EXPECT_EQ(Widths(), before);

    // Out past the header's left edge and back: the drag goes on. Going
    // out squeezes sections 0 and 1 to 20 and gives the 160 freed to section
    // 2; coming back takes it all down to 20 again, restores section 0 and
    // widens section 1 with the rest.
    DragBoundary(1, {-300, 300});
    EXPECT_EQ(Widths(), (std::vector<int>{100, before[2] + 80, 20}));
}

TEST_F(ListFixture, AutoSizeFitsTheLongestTextAndKeepsTheTotal)
{
    AddSections({60, 200});
    list.SetItems({"Gripper type;HXT 50", "Maximum acceleration;5000 mm/s²", "Stroke;110 mm"});
    Show(300);
    const int total = Total();

    list.AutoSizeColumn(0);
    const QFontMetrics listMetrics(list.Font());
    const QFontMetrics headerMetrics(list.Header()->font());
    const int wanted = std::max(headerMetrics.horizontalAdvance("Column 0") + 10,
                                listMetrics.horizontalAdvance("Maximum acceleration"))
                       + 10;
    EXPECT_EQ(Widths()[0], wanted);
    EXPECT_EQ(Total(), total);

    // The last column and empty lists are left alone.
    const std::vector<int> sized = Widths();
    list.AutoSizeColumn(1);
    EXPECT_EQ(Widths(), sized);
    list.Clear();
    list.HeaderSections()->Items(0)->SetWidth(80);
    list.AutoSizeColumn(0);
    EXPECT_EQ(Widths()[0], 80);
}

TEST_F(ListFixture, DoubleClickAtABoundaryAutoSizesButNotTheLastOne)
{
    AddSections({150, 150});
    list.SetItems({"a;b"});
    Show(305);
    const int boundary = list.Header()->SectionRight(0);
    QTest::mouseDClick(list.Header(), Qt::LeftButton, {}, QPoint(boundary + 3, 8));
    EXPECT_LT(Widths()[0], 150);
    EXPECT_EQ(list.Header()->SortedColumn(), -1);   // the double click sorted nothing

    const std::vector<int> sized = Widths();
    QTest::mouseDClick(list.Header(), Qt::LeftButton, {},
                       QPoint(list.Header()->SectionRight(1) - 1, 8));
    EXPECT_EQ(Widths()[0], sized[0]);
}

TEST_F(ListFixture, TheLastSectionFillsTheHeader)
{
    AddSections({100, 50});
    Show(400);
    EXPECT_EQ(Total(), list.Header()->width() - 1);
    list.resize(300, 200);
    QCoreApplication::processEvents();
    EXPECT_EQ(Total(), list.Header()->width() - 1);
}

TEST_F(ListFixture, CheckBoxesToggleByClickAndBySpace)
{
    AddSections({60, 200});
    list.SetCheckBoxColumn(0);
    list.SetItems({"first;1", "second;2", "third;3"});
    Show();
    int clicks = 0;
    int lastIndex = -1;
    int lastValue = -1;
    list.OnCheckBoxClick = [&](QObject* sender, int index, int value) {
        clicks += sender == &list;
        lastIndex = index;
        lastValue = value;
    };
    int selects = 0;
    list.OnSelect = [&](QObject*) { ++selects; };

    const QRect row = list.List()->visualItemRect(list.List()->item(1));
    const QPoint box(1 + list.CheckBoxOffset() + 6, row.center().y());
    Click(list.List()->viewport(), box);
    EXPECT_TRUE(list.ItemChecked(1));
    EXPECT_EQ(list.ItemCheckState(1), 1);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(lastIndex, 1);
    EXPECT_EQ(lastValue, 1);
    EXPECT_EQ(selects, 1);

    Click(list.List()->viewport(), box);
    EXPECT_FALSE(list.ItemChecked(1));
    EXPECT_EQ(lastValue, 0);

    // A press beside the box selects but does not toggle.
    Click(list.List()->viewport(), QPoint(100, row.center().y()));
    EXPECT_FALSE(list.ItemChecked(1));
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(selects, 3);

    // A grayed box stays grayed.
    list.SetItemCheckState(1, 2);
    Click(list.List()->viewport(), box);
    EXPECT_EQ(list.ItemCheckState(1), 2);

    list.SetItemIndex(2);
    QTest::keyClick(list.List(), Qt::Key_Space);
    EXPECT_TRUE(list.ItemChecked(2));
    QTest::keyClick(list.List(), Qt::Key_Space);
    EXPECT_FALSE(list.ItemChecked(2));
    EXPECT_EQ(clicks, 3);
}

TEST_F(ListFixture, CheckStatesAndColoursOutOfRange)
{
    list.SetItems({"a", "b"});
    list.SetItemCheckState(0, 2);
    EXPECT_FALSE(list.ItemChecked(0));
    list.SetItemCheckState(0, 1);
    EXPECT_TRUE(list.ItemChecked(0));
    list.SetItemChecked(0, false);
    EXPECT_EQ(list.ItemCheckState(0), 0);

    list.SetItemChecked(5, true);
    list.SetItemCheckState(-1, 1);
    EXPECT_FALSE(list.ItemChecked(5));
    EXPECT_EQ(list.ItemCheckState(-1), 0);

    EXPECT_EQ(list.ItemColor(1), 0u);
    list.SetItemColor(1, 0x123456);
    EXPECT_EQ(list.ItemColor(1), 0x123456u);
    EXPECT_EQ(list.ItemColor(0), 0u);
    list.SetItemColor(7, 0xffffff);
    EXPECT_EQ(list.ItemColorCount(), 2);
    EXPECT_EQ(list.ItemColor(7), 0u);
}

TEST_F(ListFixture, SectionChangesAreReported)
{
    AddSections({100, 100});
    std::vector<TZLBHeaderSection*> reported;
    list.HeaderSections()->OnUpdate = [&](TZLBHeaderSections*, TZLBHeaderSection* item) {
        reported.push_back(item);
    };
    TZLBHeaderSection* first = list.HeaderSections()->Items(0);
    TZLBHeaderSection* last = list.HeaderSections()->Items(1);
    first->SetText("Description");
    first->SetText("Description");   // unchanged: no report
    first->SetWidth(120);            // moves the others: all changed
    last->SetWidth(80);
    ASSERT_EQ(reported.size(), 3u);
    EXPECT_EQ(reported[0], first);
    EXPECT_EQ(reported[1], nullptr);
    EXPECT_EQ(reported[2], last);
    EXPECT_EQ(first->DisplayName(), "Description");

    TZLBListBox copy;
    copy.SetHeaderSections(*list.HeaderSections());
    ASSERT_EQ(copy.HeaderSections()->Count(), 2);
    EXPECT_EQ(copy.HeaderSections()->Items(0)->Text(), "Description");
    EXPECT_EQ(copy.HeaderSections()->Items(0)->Width(), 120);
}

TEST_F(ListFixture, RowsAlternateAndCellsSplitAtSemicolons)
{
    AddSections({80, 200});
    list.SetItems({"a;b;c", "x;y"});
    Show(300);
    list.List()->clearSelection();
    list.List()->setCurrentRow(-1);
    QCoreApplication::processEvents();
    const QImage image = list.List()->viewport()->grab().toImage();
    const QRect odd = list.List()->visualItemRect(list.List()->item(1));
    EXPECT_EQ(image.pixelColor(odd.right() - 3, odd.center().y()), QColor(223, 223, 223));
    EXPECT_EQ(image.pixelColor(80, odd.center().y()), QColor(187, 187, 187));   // separator
}

TEST_F(ListFixture, HeaderTextStartsTwoPixelsIntoItsSection)
{
    AddSections({150, 150});
    list.HeaderSections()->Items(0)->SetText("WMW");
    list.HeaderSections()->Items(0)->SetBackColor(Qt::white);
    list.HeaderSections()->Items(1)->SetText("");
    Show(305);
    TZLBHeaderControl* header = list.Header();
    QPalette pal = header->palette();
    pal.setColor(QPalette::ButtonText, Qt::black);
    header->setPalette(pal);
    const QImage image = header->grab().toImage();

    // The same text drawn at (1 + 5, 1 + 2) on a white ground.
    QImage expected(image.size(), QImage::Format_RGB32);
    expected.fill(Qt::white);
    {
        QPainter p(&expected);
        p.setFont(header->font());
        p.setPen(Qt::black);
        p.drawText(6, 3 + QFontMetrics(header->font()).ascent(), "WMW");
    }
    auto inkRows = [](const QImage& img) {
        std::vector<int> rows;
        for (int y = 1; y < img.height() - 1; ++y)
            for (int x = 3; x < 140; ++x)
                if (img.pixelColor(x, y) != QColor(Qt::white)) {
                    rows.push_back(y);
                    break;
                }
        return rows;
    };
    const std::vector<int> rows = inkRows(image);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows, inkRows(expected));
    EXPECT_LT(rows.back(), header->height() - 1) << "clear of the bottom line";
}

TEST_F(ListFixture, CellTextsStartAtTheTopOfTallRows)
{
    AddSections({100, 200});
    list.SetItemHeight(40);
    list.SetItems({"WMW;x"});
    Show(305);
    list.List()->clearSelection();
    list.List()->setCurrentRow(-1);
    QPalette pal = list.List()->palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Text, Qt::black);
    list.List()->setPalette(pal);
    QCoreApplication::processEvents();
    const QImage image = list.List()->viewport()->grab().toImage();
    const QRect row = list.List()->visualItemRect(list.List()->item(0));
    ASSERT_EQ(row.height(), 40);
    int first = -1, last = -1;
    for (int y = row.top(); y <= row.bottom(); ++y)
        for (int x = row.left() + 2; x < row.left() + 90; ++x)
            if (image.pixelColor(x, y) == QColor(Qt::black)) {
                first = first < 0 ? y : first;
                last = y;
                break;
            }
    ASSERT_GE(first, 0) << "the text was drawn";
    EXPECT_LE(last - row.top(), QFontMetrics(list.Font()).height()) << "drawn at the row's top, not centred";
}
