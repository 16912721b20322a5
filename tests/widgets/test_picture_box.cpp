// Picture box: frame messages, what it paints, its context menu and commands.
#include <QCoreApplication>
#include <QImage>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "media/frame_messages.h"
#include "media/jpeg_codec.h"
#include "platform/window_registry.h"
#include "widgets/picture_box.h"

namespace {

using widgets::CPictureBox;

// A bottom-up picture of two rows of two pixels: the first buffer row is the bottom one.
media::FrameImage TwoRows(int depth, std::vector<uint8_t> bottomPixel, std::vector<uint8_t> topPixel) {
  media::FrameImage img;
  img.width = 2;
  img.height = 2;
  img.bitsPerPixel = depth;
  for (const auto* px : {&bottomPixel, &bottomPixel, &topPixel, &topPixel})
    img.pixels.insert(img.pixels.end(), px->begin(), px->end());
  return img;
}

media::FrameImage Plain(int w, int h, uint8_t b, uint8_t g, uint8_t r) {
  media::FrameImage img;
  img.width = w;
  img.height = h;
  img.bitsPerPixel = 24;
  for (int i = 0; i < w * h; ++i) img.pixels.insert(img.pixels.end(), {b, g, r});
  return img;
}

std::unique_ptr<media::FrameRecord> Record(media::FrameImage image, int triggered = 0) {
  auto r = std::make_unique<media::FrameRecord>();
  r->triggered = triggered;
  r->image = std::move(image);
  return r;
}

std::vector<uint8_t> Jpeg(int w, int h) {
  std::vector<uint8_t> out;
  EXPECT_TRUE(media::EncodeJpeg(Plain(w, h, 0, 0, 200), 90, out));
  return out;
}

QImage Render(CPictureBox& box) { return box.grab().toImage().convertToFormat(QImage::Format_RGB32); }

void Deliver() { QCoreApplication::sendPostedEvents(); }

TEST(PictureBox, FrameMessages) {
  // Steps post to the box: 'J' a 40 x 30 JPEG, 'Z' the same with length 0, 'N'
  // ShowFrame without a picture, 'G' bytes that do not decode, 'T' a triggered
  // 24 x 20 record, 'R' an untriggered one, '0' a null record, 'S' a record
  // shorter than its header.
  auto post = [](CPictureBox& box, char step) {
    const platform::WindowHandle h = box.Handle();
    std::vector<uint8_t> jpeg = Jpeg(40, 30);
    const intptr_t n = intptr_t(jpeg.size());
    auto record = Record(Plain(24, 20, 0, 0, 0), step == 'T' || step == 'S');
    if (step == 'S') record->image.pixels.resize(10);
    if (step == 'J') platform::Post<media::ShowFrame>(h, 1, n, std::move(jpeg));
    if (step == 'Z') platform::Post<media::ShowFrame>(h, 1, 0, std::move(jpeg));
    if (step == 'N') platform::Post<media::ShowFrame>(h, 0, 0);
    if (step == 'G') platform::Post<media::ShowFrame>(h, 1, 3, std::vector<uint8_t>{1, 2, 3});
    if (step == 'T' || step == 'R' || step == 'S') platform::Post<media::ShowFrameRecord>(h, 0, 0, std::move(record));
    if (step == '0') platform::Post<media::ShowFrameRecord>(h, 0, 0);
    Deliver();
  };
  struct Row {
    std::string steps;
    int width;  // of the picture on show, 0 for none
    bool triggered;
  };
  const std::vector<Row> rows = {
      {"J", 40, false}, {"JZ", 0, false}, {"JN", 0, false}, {"JG", 40, false},
      {"T", 24, true},  {"TR", 24, false}, {"T0", 0, true},  {"JS", 40, false},
  };
  for (const Row& r : rows) {
    CPictureBox box;
    for (char step : r.steps) post(box, step);
    EXPECT_EQ(box.HasPicture() ? box.Picture().width : 0, r.width) << r.steps;
    EXPECT_EQ(box.ShownTriggered(), r.triggered) << r.steps;
  }
}

TEST(PictureBox, EmptyShowsTheNoImageText) {
  CPictureBox box;
  box.resize(400, 300);
  QImage img = Render(box);
  EXPECT_EQ(img.pixel(0, 0), qRgb(0, 0, 0));
  EXPECT_EQ(img.pixel(399, 299), qRgb(0, 0, 0));
  int text = 0, above = 0;
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 400; ++x)
      if (img.pixel(x, y) == qRgb(255, 60, 0)) (y >= 135 && y < 165 ? text : above)++;
  EXPECT_GT(text, 50) << "the text in its colour, on the middle line";
  EXPECT_EQ(above, 0);
}

TEST(PictureBox, PaintsEveryDepthStretchedBottomRowLast) {
  struct Row {
    int depth;
    std::vector<uint8_t> bottom, top;
    QRgb bottomColour, topColour;
  };
  const std::vector<Row> rows = {
      {24, {0, 0, 255}, {255, 0, 0}, qRgb(255, 0, 0), qRgb(0, 0, 255)},
      {32, {0, 0, 255, 0}, {255, 0, 0, 0}, qRgb(255, 0, 0), qRgb(0, 0, 255)},
      {16, {0x00, 0x7C}, {0x1F, 0x00}, qRgb(255, 0, 0), qRgb(0, 0, 255)},  // RGB555
      {8, {200}, {50}, qRgb(200, 200, 200), qRgb(50, 50, 50)},
  };
  for (const Row& r : rows) {
    CPictureBox box;
    box.resize(40, 40);
    box.ShowRecord(Record(TwoRows(r.depth, r.bottom, r.top)));
    QImage img = Render(box);
    EXPECT_EQ(img.pixel(5, 35), r.bottomColour) << r.depth;
    EXPECT_EQ(img.pixel(35, 5), r.topColour) << r.depth;
  }
}

TEST(PictureBox, TriggeredRecordFramesItsBlocksAndKeepsTheGridDrawn) {
  CPictureBox box;
  box.resize(400, 400);  // cells 20 x 20
  box.SetGridEditing(true);
  auto record = Record(Plain(40, 40, 0, 128, 0), 1);
  record->firstBlockColumn = record->lastBlockColumn = 2;
  record->firstBlockRow = record->lastBlockRow = 19;
  box.ShowRecord(std::move(record));
  QImage img = Render(box);
  const QRgb red = qRgb(255, 0, 0), grey = qRgb(128, 128, 128), green = qRgb(0, 128, 0);
  // Top cell of column 2: x 40..59, y 0..19, two frames.
  for (auto [x, y] : {std::pair{40, 0}, {59, 19}, {41, 1}, {58, 18}, {40, 10}, {50, 19}})
    EXPECT_EQ(img.pixel(x, y), red) << x << "," << y;
  EXPECT_EQ(img.pixel(50, 10), green) << "inside the frame the picture shows";
  EXPECT_EQ(img.pixel(70, 40), grey) << "grid lines stay while a frame arrives";
  EXPECT_EQ(img.pixel(70, 45), green);

}

using Entries = std::vector<CPictureBox::MenuEntry>;

TEST(PictureBox, MenuEntries) {
  const Entries editing = {{"Hide Motion Detection Grid", 150},
                           {},
                           {"Clear All Ignore Blocks", 151},
                           {"X Entire Detection Grid", 152}};
  Entries withSave = editing;
  withSave.push_back({"Save Custom Detection Grid", 153});
  struct Row {
    bool editing;
    platform::WindowHandle target;
    Entries expected;
  };
  const std::vector<Row> rows = {
      {false, 0, {{"Edit Motion Detection Grid", 150}}},
      {false, 77, {{"Edit Motion Detection Grid", 150}}},
      {true, 0, editing},
      {true, 77, withSave},
  };
  for (const Row& r : rows) {
    CPictureBox box;
    box.SetGridEditing(r.editing);
    box.SetGridTarget(r.target);
    EXPECT_EQ(box.MenuEntries(), r.expected) << r.editing << " " << r.target;
  }
}

TEST(PictureBox, Commands) {
  platform::CollectingWindowTarget collector;
  const platform::WindowHandle target = platform::RegisterWindow(&collector);
  std::vector<uint8_t> pattern(400, 0);
  pattern[7] = 1;
  struct Row {
    int id;
    bool withTarget;
    std::vector<uint8_t> grid;
    bool editing;
    bool blocksReset;
    size_t posted;
  };
  const std::vector<Row> rows = {
      {150, true, pattern, true, true, 0},
      {151, true, std::vector<uint8_t>(400, 0), false, true, 0},
      {152, true, std::vector<uint8_t>(400, 1), false, true, 0},
      {153, true, pattern, false, false, 1},
      {153, false, pattern, false, false, 0},
  };
  for (const Row& r : rows) {
    CPictureBox box;
    box.SetGrid(pattern);
    box.SetGridOwner(4242);
    if (r.withTarget) box.SetGridTarget(target);
    auto rec = Record(Plain(40, 40, 0, 0, 0), 1);
    rec->firstBlockColumn = rec->lastBlockColumn = 3;
    box.ShowRecord(std::move(rec));
    box.RunCommand(r.id);
    EXPECT_EQ(box.CopyGrid(), r.grid) << r.id;
    EXPECT_EQ(box.GridEditing(), r.editing) << r.id;
    EXPECT_EQ(box.Grid().GetFirstBlock().first, r.blocksReset ? -1 : 3) << r.id;
    std::vector<platform::Message> got = collector.TakeAll();
    ASSERT_EQ(got.size(), r.posted) << r.id;
    if (r.posted) {
      EXPECT_TRUE(platform::Is<widgets::GridSaved>(got[0]));
      EXPECT_EQ(got[0].lParam, 4242) << "the owner's handle goes along";
      EXPECT_EQ(platform::Take<widgets::GridSaved>(got[0]), pattern);
    }
  }
  platform::UnregisterWindow(target);
}

}  // namespace
