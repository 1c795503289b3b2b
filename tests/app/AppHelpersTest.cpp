// The window's small helpers: picture placement, time text, hook command lines, the disc test,
// the folder dialog's ends, the radio groups and the track bar.
#include "app/BrowseForFolder.h"
#include "app/CdRomFolder.h"
#include "app/HookLine.h"
#include "app/PreviewGeometry.h"
#include "app/RadioGroup.h"
#include "app/TrackBar.h"
#include "tests/support/TestSupport.h"

#include <QGridLayout>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <linux/magic.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>

using namespace testing_support;
namespace fs = std::filesystem;

TEST(FitRectTest, FillsOneSideAndCentresTheOther)
{
    struct Row {
        QSize picture;
        QRect target, expected;
    };
    const QRect box(0, 0, 220, 145);
    for (const Row &row : {
             Row{{160, 120}, box, {13, 0, 194, 145}}, // taller: full height, inset 13.33 -> 13
             Row{{320, 120}, box, {0, 31, 220, 83}},  // wider: full width, inset 31.25 -> 31
             Row{{220, 145}, box, box},               // same shape, same size
             Row{{440, 290}, box, box},               // same shape, larger
             Row{{100, 100}, {0, 0, 100, 50}, {25, 0, 50, 50}},
             Row{{100, 100}, {0, 0, 103, 100}, {2, 0, 99, 100}},      // inset 1.5 rounds to 2 (even)
             Row{{100, 100}, {0, 0, 105, 100}, {2, 0, 101, 100}},     // inset 2.5 rounds to 2 (even)
             Row{{100, 100}, {0, 0, 107, 100}, {4, 0, 99, 100}},      // inset 3.5 rounds to 4 (even)
             Row{{1, 1000}, box, {110, 0, 0, 145}},                   // a sliver keeps its place in the middle
             Row{{160, 120}, {10, 20, 220, 145}, {23, 20, 194, 145}}, // offset target
             Row{{0, 120}, box, box},                                 // nothing to place
             Row{{160, 120}, {0, 0, 0, 0}, {0, 0, 0, 0}},
         }) {
        SCOPED_TRACE(std::to_string(row.picture.width()) + "x" + std::to_string(row.picture.height()));
        EXPECT_EQ(FitRect(row.picture, row.target), row.expected);
    }
}

TEST(FormatPTSTest, SecondsAndMilliseconds)
{
    struct Row {
        int64_t microseconds;
        const char *text;
    };
    for (const Row &row :
         {Row{1234567, "1.234"}, Row{0, "0.000"}, Row{999, "0.000"}, Row{1000, "0.001"}, Row{600000000, "600.000"},
          Row{3276700, "3.276"}, Row{-1234567, "-1.234"}, Row{std::numeric_limits<int64_t>::max(), "9223372036854.775"},
          Row{std::numeric_limits<int64_t>::min(), "-9223372036854.775"}}) {
        EXPECT_EQ(FormatPTS(row.microseconds), row.text) << row.microseconds;
    }
}

TEST(HookLineTest, BlanksOrBarsBetweenTheWords)
{
    struct Row {
        std::vector<std::string> words;
        std::optional<std::string> line;
    };
    for (const Row &row : {
             Row{{"/v/watermark.so", "-f", "/v/w.gif", "-m", "0"}, "/v/watermark.so -f /v/w.gif -m 0"},
             Row{{"/Program Files/v/watermark.so", "-f", "/v/w.gif"}, "/Program Files/v/watermark.so|-f|/v/w.gif"},
             Row{{"/v/q.so", "-t", "Hello World"}, "/v/q.so|-t|Hello World"},
             Row{{"/v/q.so", "-t", "a|b"}, std::nullopt},
             Row{{"/v/q.so", "-t", "a\nb"}, std::nullopt},
             Row{{"/v/q.so", "-t", ""}, std::nullopt},
             Row{{"/v/ä.so"}, "/v/ä.so"},
         }) {
        EXPECT_EQ(HookCommandLine(row.words), row.line);
    }
}

TEST(HookLineTest, TextsAreTrimmedDefaultedAndFreeOfBarsAndBreaks)
{
    struct Row {
        std::string typed, text;
    };
    for (const Row &row : {Row{"Hi", "Hi"}, Row{"  Hi \t", "Hi"}, Row{"", "VeloxC"}, Row{" \t\r\n", "VeloxC"},
                           Row{"a|b", "a b"}, Row{"a\r\nb", "a  b"}, Row{"Grüße", "Grüße"}, Row{"|", " "}}) {
        EXPECT_EQ(HookText(row.typed), row.text) << row.typed;
    }
}

TEST(CdRomTest, IsoAndUdfAreDiscs)
{
    EXPECT_TRUE(IsCdRomFileSystem(ISOFS_SUPER_MAGIC));
    EXPECT_TRUE(IsCdRomFileSystem(UDF_SUPER_MAGIC));
    for (long other : {long{EXT4_SUPER_MAGIC}, long{TMPFS_MAGIC}, long{NFS_SUPER_MAGIC}, long{0}})
        EXPECT_FALSE(IsCdRomFileSystem(other)) << std::hex << other;
}

TEST(CdRomTest, FoldersHereAreNoDiscAlsoBeforeTheyExist)
{
    TempDir dir;
    EXPECT_FALSE(IsOnCdRom(dir.Path().string()));
    EXPECT_FALSE(IsOnCdRom((dir.Path() / "not" / "yet").string()));
    EXPECT_FALSE(IsOnCdRom(""));
    EXPECT_FALSE(IsOnCdRom("relative/folder"));
}

TEST(BrowseForFolderTest, TheDialogStartsAtAFolderThatExistsAndGivesAFullPathWithADelimiter)
{
    TempDir dir;
    const fs::path folder = dir.Path() / "a b";
    fs::create_directories(folder);
    const QString full = QString::fromStdString(folder.string());
    EXPECT_EQ(BrowseStartFolder(full), full);
    EXPECT_EQ(BrowseStartFolder(full + "/../a b"), full);
    EXPECT_EQ(BrowseStartFolder(full + "/missing"), "");
    EXPECT_EQ(BrowseStartFolder(""), "");
    // A file is no folder to start at.
    std::ofstream(folder / "f") << "x";
    EXPECT_EQ(BrowseStartFolder(full + "/f"), "");

    EXPECT_EQ(BrowseResult(full), full + "/");
    EXPECT_EQ(BrowseResult(full + "/"), full + "/");
    EXPECT_EQ(BrowseResult(full + "/f"), "");
    EXPECT_EQ(BrowseResult(""), "");
    EXPECT_EQ(BrowseResult("/"), "/");
}

TEST(RadioGroupTest, ItemsFillColumnsTopToBottomAndOneIsChosen)
{
    TRadioGroup group("grpTest", "Test", {"a", "b", "c", "d", "e"}, 2);
    auto *grid = qobject_cast<QGridLayout *>(group.layout());
    ASSERT_NE(grid, nullptr);
    struct Place {
        int row, column;
    };
    const Place places[] = {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}};
    for (int i = 0; i < 5; ++i) {
        int row, column, rows, columns;
        grid->getItemPosition(grid->indexOf(group.Button(i)), &row, &column, &rows, &columns);
        EXPECT_EQ(row, places[i].row) << i;
        EXPECT_EQ(column, places[i].column) << i;
    }
    EXPECT_EQ(group.ItemIndex(), -1);
    EXPECT_EQ(group.ItemText(), "");
    std::vector<int> changes;
    QObject::connect(&group, &TRadioGroup::ItemIndexChanged, [&](int index) { changes.push_back(index); });
    group.SetItemIndex(3);
    EXPECT_EQ(group.ItemIndex(), 3);
    EXPECT_EQ(group.ItemText(), "d");
    group.Button(1)->click();
    EXPECT_EQ(group.ItemIndex(), 1);
    EXPECT_FALSE(group.Button(3)->isChecked());
    group.SetItemIndex(-1);
    EXPECT_EQ(group.ItemIndex(), -1);
    group.SetItemIndex(9);
    EXPECT_EQ(group.ItemIndex(), -1);
    EXPECT_EQ(changes, (std::vector<int>{3, 1, -1}));
}

TEST(TrackBarTest, TheSelectionIsNotBoundToTheRange)
{
    TTrackBar bar;
    bar.setRange(0, 100);
    bar.SetSelStart(20);
    bar.SetSelEnd(80);
    bar.setMaximum(0);
    EXPECT_EQ(bar.SelStart(), 20);
    EXPECT_EQ(bar.SelEnd(), 80);
    EXPECT_EQ(bar.value(), 0);
    // Drawn with a selection beyond the range, without complaint.
    bar.resize(220, 30);
    bar.setMaximum(50);
    EXPECT_FALSE(bar.grab().isNull());
}
