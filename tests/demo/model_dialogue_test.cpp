#include "model_dialogue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using lines = std::vector<std::string>;

TEST(ModelDialogue, SplitsTheHeaderAtTabsOrElseCommas) {
    const struct {
        std::string line;
        lines names;
    } rows[] = {
        {"name,age,city", {"name", "age", "city"}},
        {" a , b \r", {"a", "b"}},
        {"a\tb,c\t d", {"a", "b,c", "d"}},
        {"x,", {"x", ""}},
        {std::string("p\0q,r", 5), {std::string("p\0q", 3), "r"}},
        {"", {}},
        {"\r", {}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(split_header(row.line.data(), row.line.size()), row.names) << row.line;
}

TEST(ModelDialogue, ViewsOnlyTheFirstBytesAndBoundsWhatItShows) {
    const std::string seven = "id,v\r\n1\n2\n3\n4\n5\n6\n";
    const std::string wide = "h\t" + std::string(100, 'x') + "\x01\n";
    const struct {
        std::string bytes;
        bool whole;
        lines shown;
        lines columns;
    } rows[] = {
        {"", true, {"The file is empty: it has no first line to name the columns."}, {}},
        {"\xEF\xBB\xBFid,v\r\n1,2",
         true,
         {"Its first lines:", "  | id,v", "  | 1,2", "Its first line names 2 columns."},
         {"id", "v"}},
        {seven,
         true,
         {"Its first lines:", "  | id,v", "  | 1", "  | 2", "  | 3", "  | 4",
          "Its first line names 2 columns."},
         {"id", "v"}},
        {wide,
         true,
         {"Its first lines:", "  | h." + std::string(71, 'x') + "...",
          "Its first line names 2 columns."},
         {"h", std::string(100, 'x') + "\x01"}},
        {"a,b",
         false,
         {"Its first lines:", "  | a,b",
          "Its first line is longer than 65536 bytes: it names no columns."},
         {}},
        {"\r\nx",
         true,
         {"Its first lines:", "  | ", "  | x", "Its first line is empty: it names no columns."},
         {}},
    };
    for (const auto& row : rows) {
        const data_view view = view_data(row.bytes.data(), row.bytes.size(), row.whole);
        EXPECT_EQ(view.shown, row.shown) << row.bytes;
        EXPECT_EQ(view.columns, row.columns) << row.bytes;
    }
}

TEST(ModelDialogue, AnswersASelectionWithTheChosenColumnsOrWhyItIsRefused) {
    const lines four = {"region", "", "year", "yield"};
    lines many;
    for (int i = 1; i <= 25; ++i)
        many.push_back("c" + std::to_string(i));
    const struct {
        std::string text;
        int typed;
        lines columns;
        lines answer;
    } rows[] = {
        {"4, 1~2", 6, four, {"Chosen columns (3):", "  1  region", "  2  (no name)", "  4  yield"}},
        {"3~9",
         3,
         four,
         {"Refused: a range is first~last with last from 1 to 4; no doubled \",\" or \"~\"."}},
        {"1;2",
         3,
         four,
         {"Refused: use column numbers, \",\" between them and \"~\" for a range, such as 1~3,5."}},
        {"9,0", 3, four, {"Refused: it names no column from 1 to 4."}},
        {"1", selection_max + 1, four, {"Refused: the text is longer than 200 characters."}},
    };
    for (auto row : rows)
        EXPECT_EQ(answer_selection(row.text.data(), row.typed, row.columns), row.answer)
            << row.text;

    char all[] = "1~25";
    const lines listed = answer_selection(all, 4, many);
    ASSERT_EQ(listed.size(), 22u);
    EXPECT_EQ(listed[20], "  20  c20");
    EXPECT_EQ(listed[21], "  ... and 5 more");
}

TEST(ModelDialogue, KnowsItsModelByItsFileNameInAnyCase) {
    ASSERT_NE(model_named("roska_MID_16.EXE"), nullptr);
    EXPECT_EQ(model_named("roska_MID_16.EXE")->number, 2);
    EXPECT_EQ(model_named("TARN_curvelinear_17.exe")->number, 6);
    EXPECT_EQ(model_named("model_stand_in.exe"), nullptr);
}

} // namespace
