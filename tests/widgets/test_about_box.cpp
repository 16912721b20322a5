#include "widgets/about_box.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QDialogButtonBox>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <memory>

namespace {

TEST(AboutBoxTest, DrawIconMakesFourSizesDrawnInSixteenths) {
  std::vector<double> units;
  const QIcon icon = widgets::DrawIcon([&](QPainter& p, double u) {
    units.push_back(u);
    p.setBrush(Qt::red);
    p.drawRect(QRectF(0, 0, 8 * u, 16 * u));
  });
  EXPECT_EQ(units, (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(icon.availableSizes().size(), 4);
  const QImage image = icon.pixmap(32, 32).toImage();
  EXPECT_EQ(image.pixelColor(4, 16), QColor(Qt::red));
  EXPECT_EQ(image.pixelColor(28, 16).alpha(), 0);
}

TEST(AboutBoxTest, BoxShowsTitleIconTextAndOk) {
  QWidget parent;
  const QIcon icon = widgets::DrawIcon([](QPainter& p, double u) {
    p.setBrush(Qt::blue);
    p.drawRect(QRectF(0, 0, 16 * u, 16 * u));
  });
  std::unique_ptr<QDialog> box(widgets::CreateAboutBox(&parent, "About X", icon, "X Version 1\nA program"));
  EXPECT_EQ(box->parentWidget(), &parent);
  EXPECT_EQ(box->windowTitle(), "About X");
  bool textFound = false, iconFound = false;
  for (QLabel* label : box->findChildren<QLabel*>()) {
    if (label->text() == "X Version 1\nA program") textFound = true;
    if (!label->pixmap().isNull() && label->pixmap().size() == QSize(32, 32)) iconFound = true;
  }
  EXPECT_TRUE(textFound);
  EXPECT_TRUE(iconFound);
  auto* buttons = box->findChild<QDialogButtonBox*>();
  ASSERT_NE(buttons, nullptr);
  ASSERT_NE(buttons->button(QDialogButtonBox::Ok), nullptr);
  box->show();
  buttons->button(QDialogButtonBox::Ok)->click();
  EXPECT_EQ(box->result(), QDialog::Accepted);
}

}  // namespace
