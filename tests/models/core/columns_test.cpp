#include "columns.h"

#include <gtest/gtest.h>

namespace models {
namespace {

const std::vector<std::string> names = {"y",  "dose", "Weight", "x1", "x2",
                                        "x3", "a,b",  "dup",    "dup"};

TEST(Columns, ResolvesNamesNumbersAndSelections) {
    struct {
        const char* selection;
        std::vector<std::size_t> indices;
        const char* error;
    } cases[] = {
        {"dose", {1}, ""},
        {" 3 ", {2}, ""},
        {"weight", {2}, ""},
        {"a,b", {6}, ""},
        {"2~4,6", {1, 2, 3, 5}, ""},
        {"6, 2", {1, 5}, ""},
        {"0~2", {0, 1}, ""},
        {"x1,dose", {3, 1}, ""},
        {"dose, 4", {1, 3}, ""},
        {"zzz",
         {},
         "no column is named \"zzz\"; the columns are: y, dose, Weight, x1, x2, x3, a,b, "
         "dup, dup"},
        {"12", {}, "there is no column 12; the file has 9 columns"},
        {"2,0", {}, "there is no column 0; the file has 9 columns"},
        {"2~",
         {},
         "\"2~\" is not a selection of column numbers (such as 2~4,6) with columns 1 to 9"},
        {"4~2",
         {},
         "\"4~2\" is not a selection of column numbers (such as 2~4,6) with columns 1 to 9"},
        {"2~20",
         {},
         "\"2~20\" is not a selection of column numbers (such as 2~4,6) with columns 1 "
         "to 9"},
        {"dup",
         {},
         "several columns are named \"dup\" (columns 8 and 9); name the column by its "
         "number"},
        {"dose,2", {}, "column 2 (\"dose\") is named twice"},
        {"dose,", {}, "no column is named"},
        {"", {}, "no column is named"},
    };
    for (const auto& c : cases) {
        const column_choices got = resolve_columns(c.selection, names);
        EXPECT_EQ(got.ok, *c.error == '\0') << c.selection;
        EXPECT_EQ(got.error, c.error) << c.selection;
        EXPECT_EQ(got.indices, c.indices) << c.selection;
    }
}

} // namespace
} // namespace models
