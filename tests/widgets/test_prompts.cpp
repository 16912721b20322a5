#include "widgets/prompts.h"

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QWidget>
#include <memory>

namespace {

TEST(PromptsTest, NameFiltersKeepShownPatternsAndAppendMissingOnes) {
  EXPECT_EQ(widgets::NameFilters("MJPG Video Files (*.mjpg)|*.mjpg|Pictures|*.jpg;*.bmp||"),
            (QStringList{"MJPG Video Files (*.mjpg)", "Pictures (*.jpg;*.bmp)"}));
}

TEST(PromptsTest, NameFiltersMeanEveryFileByStarDotStar) {
  EXPECT_EQ(widgets::NameFilters("MJPG Video Files (*.mjpg)|*.mjpg|All Files (*.*)|*.*||"),
            (QStringList{"MJPG Video Files (*.mjpg)", "All Files (*)"}));
  EXPECT_EQ(widgets::NameFilters("All Files|*.*||"), QStringList{"All Files (*)"});
}

TEST(PromptsTest, NameFiltersOfAnEmptyFilterAreNone) {
  EXPECT_TRUE(widgets::NameFilters("").isEmpty());
  EXPECT_TRUE(widgets::NameFilters("||").isEmpty());
}

TEST(PromptsTest, MessageBoxCarriesTextCaptionIconAndOk) {
  QWidget parent;
  std::unique_ptr<QMessageBox> box(
      widgets::CreateMessageBox(&parent, "Text", "Caption", widgets::BoxIcon::Exclamation));
  EXPECT_EQ(box->text(), "Text");
  EXPECT_EQ(box->windowTitle(), "Caption");
  EXPECT_EQ(box->icon(), QMessageBox::Warning);
  EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
  EXPECT_EQ(box->parentWidget(), &parent);
  std::unique_ptr<QMessageBox> error(widgets::CreateMessageBox(&parent, "", "", widgets::BoxIcon::Error));
  EXPECT_EQ(error->icon(), QMessageBox::Critical);
  std::unique_ptr<QMessageBox> info(widgets::CreateMessageBox(&parent, "", "", widgets::BoxIcon::Information));
  EXPECT_EQ(info->icon(), QMessageBox::Information);
}

}  // namespace
