#include "settings/messages.h"

#include <string>

#include <gtest/gtest.h>

#include "support/script_test.h"

namespace kestario {
namespace {

class MessagesTest : public ScriptTest {
 protected:
  MessagesTest() {
    InstallMessageCatalog();
    caption_.Assign("Data update");
    BindErrorCaption(&caption_);
  }
  ~MessagesTest() override { BindErrorCaption(nullptr); }
  TextString caption_;
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
    TextString text;
    text.LoadMessage(number, "x", "y");
    EXPECT_GT(text.GetLength(), 0) << number;
  }
  TextString seven("not empty");
  seven.LoadMessage(7);
  EXPECT_STREQ("", seven.GetConstText());

  ReportError(kMsgFileNotFound, "/opt/updater.ini");
  EXPECT_EQ("ファイルが見つかりません。\n\nファイル:：\"/opt/updater.ini\"", system.boxes[0].text);
}

TEST_F(MessagesTest, OverlongMessagesAreCutSafely) {
  std::string name(5000, 'n');
  ReportError(kMsgDeleteFailed, name.c_str());
  ASSERT_EQ(1u, system.boxes.size());
  EXPECT_EQ(1023u, system.boxes[0].text.size());
  EXPECT_EQ(0u, system.boxes[0].text.find("ファイルの削除に失敗しました。"));
}

TEST_F(MessagesTest, UnboundCaptionFallsBackToTheDefault) {
  BindErrorCaption(nullptr);
  ReportError(kMsgOutOfMemory, "ProcList");
  EXPECT_EQ(DefaultCaption(), system.boxes[0].caption);
  EXPECT_STREQ("ケスタリオ アップデータ", DefaultCaption());
}

}  // namespace
}  // namespace kestario
