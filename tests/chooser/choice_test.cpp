#include "choice.h"

#include "fake_win32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A form as the chooser builds it: a main window and one row.
class Choice : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_win32::reset();
        reserve_form_rows(1);
        hwnd = fake_win32::make_window("The trelvane analysis ");
        hwnd_command[0] = fake_win32::make_window("choosing");
        hwnddisplay[0] = fake_win32::make_window("");
        selectXX = 0;
    }
    void type(const std::string& text) { fake_win32::set_text(hwnddisplay[0], text); }
    std::string field() { return fake_win32::text_of(hwnddisplay[0]); }
};

} // namespace

TEST_F(Choice, FormRowsHaveRoomForTwoMore) {
    EXPECT_EQ(limit, 1);
    EXPECT_EQ(command_strx.size(), 3u);
    EXPECT_EQ(hwnd_command.size(), 3u);
    EXPECT_EQ(hwnddisplay.size(), 3u);
    EXPECT_EQ(command_content.size(), 3u);
    EXPECT_STREQ(command_strx[0], "choosing");
}

TEST_F(Choice, ModelTableIsNumberedInOrder) {
    for (std::size_t i = 0; i < model_table.size(); ++i) {
        EXPECT_EQ(model_table[i].number, static_cast<int>(i) + 1);
        EXPECT_EQ(model_table[i].confirmation_name[0], static_cast<char>('1' + i));
    }
}

TEST_F(Choice, TypicalChoiceAsksTheNamedModelWithTheMainWindowHidden) {
    type("3");
    fake_win32::scripted_answers = {IDYES};
    EXPECT_EQ(ask_right(), IDYES);
    EXPECT_EQ(field(), "     3");
    EXPECT_EQ(selectXX, 3);
    ASSERT_EQ(fake_win32::message_boxes.size(), 1u);
    const auto& box = fake_win32::message_boxes[0];
    EXPECT_EQ(box.text, "3.The curve-linear model based on trelvane corrected ? ");
    EXPECT_EQ(box.caption, " Kestrane Co., ");
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.type, MB_ICONQUESTION | MB_YESNO);
    const std::string main = std::to_string(fake_win32::id_of(hwnd));
    EXPECT_EQ(fake_win32::events,
              (std::vector<std::string>{"hide:" + main, "box", "show:" + main}));
    EXPECT_TRUE(fake_win32::is_visible(hwnd));
}

TEST_F(Choice, EveryModelIsAskedByItsName) {
    for (const auto& model : model_table) {
        fake_win32::message_boxes.clear();
        type(std::to_string(model.number));
        fake_win32::scripted_answers = {IDNO};
        EXPECT_EQ(ask_right(), IDNO);
        ASSERT_EQ(fake_win32::message_boxes.size(), 1u);
        EXPECT_EQ(fake_win32::message_boxes[0].text,
                  std::string(model.confirmation_name) + " corrected ? ");
    }
}

TEST_F(Choice, FieldIsTidiedAndCheckedWithoutQuestionWhenInvalid) {
    const struct {
        const char* typed;
        const char* shown;
        int select;
        int result;
    } cases[] = {
        {"     3", "     3", 3, IDNO},
        {"2.9", "     2", 2, IDNO},
        {"+4", "     4", 4, IDNO},
        {"  5", "     5", 5, IDNO},
        {"abc", "     0", 0, 1},
        {"", "", 0, 1},
        {"0", "     0", 0, 1},
        {"7", "     7", 7, 1},
        {"-1", "    -1", -1, 1},
        {"9", "     9", 9, 1},
        {"1234567", "1234567", 1234567, 1},
        {"99999999999", "2147483647", 2147483647, 1},
        {"-99999999999", "-2147483648", -2147483647 - 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("typed \"") + c.typed + "\"");
        fake_win32::reset();
        SetUp();
        type(c.typed);
        fake_win32::scripted_answers = {IDNO};
        EXPECT_EQ(ask_right(), c.result);
        EXPECT_EQ(field(), c.shown);
        EXPECT_EQ(selectXX, c.select);
        if (c.result == 1) {
            EXPECT_TRUE(fake_win32::message_boxes.empty()) << "a question was asked";
            EXPECT_TRUE(fake_win32::events.empty()) << "the main window was hidden or shown";
            EXPECT_TRUE(fake_win32::is_visible(hwnd));
        }
    }
}

TEST_F(Choice, FieldIsReadAsItsFirst98Characters) {
    // 98 digits then more: the read stops at 98, so the number is what those
    // 98 characters give (clamped), and a 99th character is never seen.
    type("4" + std::string(97, ' ') + "x99999");
    fake_win32::scripted_answers = {IDNO};
    EXPECT_EQ(ask_right(), IDNO);
    EXPECT_EQ(selectXX, 4);
    EXPECT_EQ(field(), "     4");

    type(std::string(98, ' ') + "5");
    EXPECT_EQ(ask_right(), 1) << "the 99th character must not be read";
    EXPECT_EQ(selectXX, 0);
}

TEST_F(Choice, UnansweredBoxGivesZero) {
    type("2");
    fake_win32::scripted_answers = {0};
    EXPECT_EQ(ask_right(), 0);
    EXPECT_TRUE(fake_win32::is_visible(hwnd))
        << "the main window must come back whatever the answer";
}

TEST_F(Choice, ByeByeStartsExactlyTheChosenProgram) {
    for (const auto& model : model_table) {
        fake_win32::launches.clear();
        selectXX = model.number;
        EXPECT_EQ(bye_bye(), 0);
        ASSERT_EQ(fake_win32::launches.size(), 1u);
        const auto& launch = fake_win32::launches[0];
        EXPECT_EQ(launch.owner, nullptr);
        EXPECT_EQ(launch.verb, "open");
        EXPECT_EQ(launch.file, model.program_path);
        EXPECT_FALSE(launch.has_parameters);
        EXPECT_FALSE(launch.has_directory);
        EXPECT_EQ(launch.show_command, SW_SHOW);
    }
    EXPECT_STREQ(model_table[2].program_path, "c:\\trelvane\\program\\ROSKA_mid_17.exe");
}

TEST_F(Choice, ByeByeStartsNothingOutsideOneToSix) {
    for (int n : {0, 7, -1, 2147483647}) {
        selectXX = n;
        EXPECT_EQ(bye_bye(), -1);
        EXPECT_TRUE(fake_win32::launches.empty()) << "started something for " << n;
    }
    EXPECT_TRUE(fake_win32::message_boxes.empty());
}

TEST_F(Choice, FailedStartIsReportedWithTheSystemsReason) {
    // The shell's result, and the system error it stands for (0: started).
    const struct {
        int shell;
        int error;
    } cases[] = {
        {33, 0},    {0x7fff0000, 0}, {0, 8},     {2, 2},     {3, 3},
        {5, 5},     {8, 8},          {11, 11},   {26, 32},   {27, 1155},
        {28, 1156}, {29, 1156},      {30, 1156}, {31, 1155}, {32, 1157},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("shell result " + std::to_string(c.shell));
        fake_win32::reset();
        SetUp();
        fake_win32::shell_result = c.shell;
        selectXX = 3;
        EXPECT_EQ(bye_bye(), c.error);
        EXPECT_EQ(fake_win32::launches.size(), 1u);
        if (c.error == 0) {
            EXPECT_TRUE(fake_win32::message_boxes.empty()) << "a start was reported as failed";
            continue;
        }
        ASSERT_EQ(fake_win32::message_boxes.size(), 1u);
        const auto& box = fake_win32::message_boxes[0];
        EXPECT_EQ(box.text, "The model program could not be started:\n"
                            "c:\\trelvane\\program\\ROSKA_mid_17.exe\n\nreason " +
                                std::to_string(c.error));
        EXPECT_EQ(box.caption, " Kestrane Co., ");
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_EQ(box.type, MB_ICONEXCLAMATION | MB_OK);
        ASSERT_EQ(fake_win32::message_lookups.size(), 1u);
        EXPECT_EQ(fake_win32::message_lookups[0].flags,
                  FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS)
            << "inserts of the system's message must not be expanded";
        EXPECT_EQ(fake_win32::message_lookups[0].message_id, static_cast<DWORD>(c.error));
    }
}

TEST_F(Choice, ConfirmAfterRefusalAsksAgain) {
    type("4");
    fake_win32::scripted_answers = {IDNO, IDYES};
    EXPECT_EQ(ask_right(), IDNO);
    EXPECT_EQ(ask_right(), IDYES);
    ASSERT_EQ(fake_win32::message_boxes.size(), 2u);
    EXPECT_EQ(fake_win32::message_boxes[0].text, fake_win32::message_boxes[1].text);
    bye_bye();
    ASSERT_EQ(fake_win32::launches.size(), 1u);
    EXPECT_EQ(fake_win32::launches[0].file, "c:\\trelvane\\program\\TARN_line_15.exe");
}
