#include "settings/messages.h"

#include <string>

#include <gtest/gtest.h>

#include "support/script_test.h"

namespace kestario {
namespace {

class MessagesTest : public ScriptTest {
 protected:
  MessagesTest() {
    caption_.Assign(u"Data update");
    BindErrorCaption(&caption_);
  }
  ~MessagesTest() override { BindErrorCaption(nullptr); }

  std::string Message(int number, const char* first = "", const char* second = "") {
    WideText text;
    EXPECT_TRUE(LoadMessage(number, first, second, &text));
    return ShownText(text);
  }

  WideText caption_;
};

TEST_F(MessagesTest, ErrorBoxShowsTheFormattedMessageUnderTheCaption) {
  ReportError(kMsgBadFormat, "UPDATER", "PROC");
  ASSERT_EQ(1u, system.boxes.size());
  EXPECT_EQ("Data update", system.boxes[0].caption);
  EXPECT_EQ(kMbIconError | kMbOk, system.boxes[0].style);
  EXPECT_EQ(
      "設定ファイルのフォーマットが正しくありません。\n\nセクション：\"UPDATER\"\n"
      "パラメータ：\"PROC\"",
      system.boxes[0].text);
}

TEST_F(MessagesTest, CatalogHoldsExactlyTheNumberedTexts) {
  for (int number : {1, 2, 3, 4, 5, 6, 8, 9, 10}) {
    EXPECT_NE("", Message(number, "x", "y")) << number;
  }
  EXPECT_EQ("", Message(7));
  ReportError(kMsgFileNotFound, "/opt/updater.ini");
  EXPECT_EQ("ファイルが見つかりません。\n\nファイル:：\"/opt/updater.ini\"", system.boxes[0].text);
}

// The catalog and the default caption follow the desktop's language: Japanese for a Japanese one
// (whatever its country), English for every other. The script's bytes reach the box as they are.
TEST_F(MessagesTest, NonJapaneseDesktopsGetTheEnglishTexts) {
  BindErrorCaption(nullptr);
  system.uiLanguage = 0x0809;  // English (United Kingdom)
  ReportError(kMsgCopyFailed,
              "C:\\Donn\xe9"
              "es\\caf\xe9.txt",
              "D:\\");
  EXPECT_EQ("Kestario Updater", system.boxes[0].caption);
  EXPECT_EQ(
      "The file could not be copied.\n\nSource: \"C:\\Donn\xe9"
      "es\\caf\xe9.txt\"\n"
      "Destination: \"D:\\\"",
      system.boxes[0].text);
  system.uiLanguage = 0x0407;  // German
  EXPECT_EQ("The file could not be deleted.\n\nFile: \"x\"", Message(kMsgDeleteFailed, "x"));
  system.uiLanguage = 0x0411;
  EXPECT_EQ("ファイルの削除に失敗しました。\n\nファイル：\"x\"", Message(kMsgDeleteFailed, "x"));
  EXPECT_EQ("ケスタリオ アップデータ", ShownText(DefaultCaption()));
  system.uiLanguage = 0x0C04;  // Chinese (Hong Kong)
  EXPECT_EQ("Kestario Updater", ShownText(DefaultCaption()));
}

// A message is cut where formatting it in the ANSI code page would have cut it: at 1,023 bytes,
// in a name or in the catalog's text after it, even inside a character.
TEST_F(MessagesTest, OverlongMessagesAreCutAt1023Bytes) {
  const std::string deleteText = "ファイルの削除に失敗しました。\n\nファイル：\"";
  const std::string name(5000, 'n');
  EXPECT_EQ((deleteText + name).substr(0, 1023), Message(kMsgDeleteFailed, name.c_str()));
  const std::string formatText = "設定ファイルのフォーマットが正しくありません。\n\nセクション：\"";
  for (size_t length : {940u, 1004u, 1010u, 1021u, 1022u, 1023u, 1030u}) {
    const std::string section(length - formatText.size(), 's');
    const std::string whole = formatText + section + "\"\nパラメータ：\"KEY\"";
    EXPECT_EQ(whole.substr(0, 1023), Message(kMsgBadFormat, section.c_str(), "KEY")) << length;
  }
  ReportError(kMsgDeleteFailed, name.c_str());
  EXPECT_EQ(1023u, system.boxes[0].text.size());
}

TEST_F(MessagesTest, UnboundCaptionFallsBackToTheDefault) {
  BindErrorCaption(nullptr);
  ReportError(kMsgOutOfMemory, "ProcList");
  EXPECT_EQ("ケスタリオ アップデータ", system.boxes[0].caption);
}

}  // namespace
}  // namespace kestario
