// The Visual Compare window, driven through a small stand-in for the main
// window's duplicates list.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWheelEvent>

#include <vector>

#include "app/Utils.h"
#include "finder/DFinder.h"
#include "view/ImageView.h"
#include "view/PreviewFormUnit.h"
#include "view/PreviewSource.h"

namespace {

// The list: each row names a record and has a check box; selecting a row
// copies its check state to the record, as the main window does.
class TFakeList : public TPreviewSource {
 public:
  struct TRow {
    int K;
    bool Checked;
  };
  std::vector<TRow> Rows;
  int Selected = -1;
  TDFinder Finder;

  int PreviewRowCount() const override { return static_cast<int>(Rows.size()); }
  int PreviewSelectedRow() const override { return Selected; }
  void PreviewSelectRow(int row) override {
    Selected = row;
    if (row >= 0 && row < PreviewRowCount()) Finder.Images[Rows[row].K]->Marked = Rows[row].Checked;
  }
  int PreviewRowData(int row) const override { return Rows[row].K; }
  void PreviewSetRowChecked(int row, bool checked) override { Rows[row].Checked = checked; }
  TDFinder* PreviewFinder() override { return &Finder; }
};

// A binary pixmap of one colour.
void WritePpm(const QString& path, int w, int h, uint8_t r, uint8_t g, uint8_t b) {
  QByteArray data = QByteArray("P6\n") + QByteArray::number(w) + " " + QByteArray::number(h) + "\n255\n";
  for (int i = 0; i < w * h; ++i) data.append(char(r)).append(char(g)).append(char(b));
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(data);
}

// Rows 0..n-1 over files img0.ppm .. (record k = row k), each a 40 x 30
// image whose red value is 10 x (k + 1).
struct Fixture {
  QTemporaryDir dir;
  TFakeList list;
  TPreviewForm form{nullptr};
  std::vector<std::pair<TMsgKind, QString>> messages;

  explicit Fixture(int n) {
    for (int k = 0; k < n; ++k) {
      const QString path = dir.filePath(QString("img%1.ppm").arg(k));
      WritePpm(path, 40, 30, static_cast<uint8_t>(10 * (k + 1)), 0, 0);
      list.Finder.FileNames.push_back(FileNameBytes(path));
      auto rec = std::make_unique<TDImage>(k);
      rec->Width = 40;
      rec->Height = 30;
      rec->FileSize = QFileInfo(path).size();
      list.Finder.Images.push_back(std::move(rec));
      list.Rows.push_back({k, false});
    }
    form.SetSource(&list);
    SetMessageHook([this](TMsgKind kind, const QString& text) {
      messages.emplace_back(kind, text);
      return int(QMessageBox::Ok);
    });
  }
  ~Fixture() { SetMessageHook(nullptr); }

  bool Open(int row) {
    list.PreviewSelectRow(row);
    return form.Prepare(row);
  }
  // Red value of the image shown, identifying its record.
  int ShownRed() {
    TImBitmap* b = form.PreviewImage->ViewBitmap();
    return b->Width() > 0 ? b->Scanline(0)[2] : -1;
  }
  void Key(int key) {
    QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(form.PreviewImage, &e);
  }
  void Wheel(int deltaY) {
    const QPointF pos(100, 100);
    QWheelEvent e(pos, pos, QPoint(), QPoint(0, deltaY), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(form.PreviewImage, &e);
  }
};

}  // namespace

TEST(PreviewForm, LayoutAndCaptions) {
  TPreviewForm form(nullptr);
  EXPECT_EQ(form.size(), QSize(687, 542));
  EXPECT_EQ(form.windowTitle(), "Visual Compare");
  EXPECT_EQ(form.PreviewImage->geometry(), QRect(0, 0, 687, 501));
  EXPECT_EQ(form.PreviewImage->ViewWidth(), 683);
  EXPECT_EQ(form.PreviewImage->ViewHeight(), 497);
  EXPECT_TRUE(form.PreviewImage->AutoFit());
  EXPECT_TRUE(form.PreviewImage->AutoShrink());
  EXPECT_EQ(form.PreviewImage->ZoomFilter(), rfFastLinear);
  EXPECT_FALSE(form.PreviewImage->AutoUndo());
  EXPECT_EQ(form.LabelPanel->geometry(), QRect(0, 501, 687, 41));
  EXPECT_EQ(form.PreviousBtn->text(), "[PgUp] Previous");
  EXPECT_EQ(form.PreviousBtn->geometry(), QRect(244, 8, 91, 25));
  EXPECT_EQ(form.NextBtn->text(), "Next [PgDn]");
  EXPECT_EQ(form.NextBtn->geometry(), QRect(348, 8, 89, 25));
  EXPECT_EQ(form.DuplicateChk->text(), "Duplicate");
  EXPECT_EQ(form.DuplicateChk->geometry(), QRect(588, 13, 84, 17));
}

TEST(PreviewForm, ButtonsAtFirstLastAndOnlyRow) {
  struct Case {
    int rows, row;
    bool prev, next;
  } cases[] = {{3, 0, false, true}, {3, 1, true, true}, {3, 2, true, false}, {1, 0, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rows << " rows, row " << c.row);
    Fixture f(c.rows);
    ASSERT_TRUE(f.Open(c.row));
    EXPECT_EQ(f.form.PreviousBtn->isEnabled(), c.prev);
    EXPECT_EQ(f.form.NextBtn->isEnabled(), c.next);
    EXPECT_EQ(f.ShownRed(), 10 * (c.row + 1));
    // Keys and the wheel do nothing where the buttons are disabled.
    if (!c.next) {
      f.Key(Qt::Key_PageDown);
      f.Wheel(-120);
    }
    if (!c.prev) {
      f.Key(Qt::Key_PageUp);
      f.Wheel(120);
    }
    EXPECT_EQ(f.form.CurrentRow(), c.row);
    EXPECT_EQ(f.list.Selected, c.row);
    EXPECT_EQ(f.ShownRed(), 10 * (c.row + 1));
    EXPECT_TRUE(f.messages.empty());
  }
}

TEST(PreviewForm, NavigationByButtonKeysAndWheel) {
  Fixture f(4);
  ASSERT_TRUE(f.Open(1));
  f.form.NextBtn->click();  // to 2 (second to last) ...
  EXPECT_EQ(f.list.Selected, 2);
  EXPECT_TRUE(f.form.NextBtn->isEnabled());
  f.Key(Qt::Key_PageDown);  // ... to the last row
  EXPECT_EQ(f.list.Selected, 3);
  EXPECT_EQ(f.ShownRed(), 40);
  EXPECT_FALSE(f.form.NextBtn->isEnabled());
  f.Key(Qt::Key_PageDown);  // nothing on the last row
  EXPECT_EQ(f.form.CurrentRow(), 3);
  f.Wheel(120);  // away from the user: previous
  EXPECT_EQ(f.list.Selected, 2);
  f.Key(Qt::Key_PageUp);
  f.form.PreviousBtn->click();
  EXPECT_EQ(f.list.Selected, 0);
  EXPECT_EQ(f.ShownRed(), 10);
  EXPECT_FALSE(f.form.PreviousBtn->isEnabled());
  f.Wheel(-120);  // toward the user: next
  EXPECT_EQ(f.list.Selected, 1);
  EXPECT_EQ(f.ShownRed(), 20);
  // The image is fitted: 40 x 30 enlarged into the client area.
  EXPECT_GT(f.form.PreviewImage->Zoom(), 100);
}

TEST(PreviewForm, CaptionFromTheRecord) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkpath("sub"));
  const QString path = dir.filePath("sub/a.jpg");
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(900, '\0'));  // not a decodable JPEG: the loader gives up quietly
  }
  TFakeList list;
  list.Finder.FileNames.push_back(FileNameBytes(path));
  auto rec = std::make_unique<TDImage>(0);
  rec->Width = 640;
  rec->Height = 480;
  rec->FileSize = 900;
  list.Finder.Images.push_back(std::move(rec));
  list.Rows.push_back({0, false});
  list.Selected = 0;
  TPreviewForm form(nullptr);
  form.SetSource(&list);
  ASSERT_TRUE(form.Prepare(0));
  EXPECT_EQ(form.windowTitle(), "Visual Compare - a.jpg (640 x 480) - 900 bytes");
}

TEST(PreviewForm, CheckBoxWritesRecordAndRow) {
  Fixture f(2);
  f.list.Rows[1].Checked = true;
  ASSERT_TRUE(f.Open(1));
  EXPECT_TRUE(f.list.Finder.Images[1]->Marked);
  EXPECT_TRUE(f.form.DuplicateChk->isChecked());
  f.form.DuplicateChk->click();  // uncheck
  EXPECT_FALSE(f.list.Finder.Images[1]->Marked);
  EXPECT_FALSE(f.list.Rows[1].Checked);
  f.form.DuplicateChk->click();
  EXPECT_TRUE(f.list.Finder.Images[1]->Marked);
  EXPECT_TRUE(f.list.Rows[1].Checked);
  EXPECT_FALSE(f.list.Rows[0].Checked);
}

TEST(PreviewForm, MissingFileOnOpeningAndOnNavigation) {
  Fixture f(3);
  QFile::remove(DisplayName(f.list.Finder.FileNames[1]));
  // Opening on the missing row: the message, and the window must not open.
  EXPECT_FALSE(f.Open(1));
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_EQ(f.messages[0].first, TMsgKind::Error);
  EXPECT_EQ(f.messages[0].second, "File not found !");
  EXPECT_EQ(f.form.CurrentRecord(), nullptr);

  f.messages.clear();
  f.list.Rows[0].Checked = true;
  ASSERT_TRUE(f.Open(0));
  const QString caption = f.form.windowTitle();
  f.form.NextBtn->click();
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_EQ(f.messages[0].second, "File not found !");
  // The selection and the row index moved; what is shown did not.
  EXPECT_EQ(f.list.Selected, 1);
  EXPECT_EQ(f.form.CurrentRow(), 1);
  EXPECT_EQ(f.form.windowTitle(), caption);
  EXPECT_EQ(f.ShownRed(), 10);
  EXPECT_EQ(f.form.CurrentRecord(), f.list.Finder.Images[0].get());
  EXPECT_TRUE(f.form.DuplicateChk->isChecked());
  // The box now changes the previous image's mark and the new row's box.
  f.form.DuplicateChk->click();
  EXPECT_FALSE(f.list.Finder.Images[0]->Marked);
  EXPECT_FALSE(f.list.Rows[1].Checked);
  EXPECT_TRUE(f.list.Rows[0].Checked);
  // Going on to a row whose file exists shows it again.
  f.form.NextBtn->click();
  EXPECT_EQ(f.ShownRed(), 30);
}

TEST(PreviewForm, NoSelectionOrNoSourceDoesNotOpen) {
  Fixture f(2);
  f.list.Selected = -1;
  EXPECT_FALSE(f.form.Prepare(0));
  TPreviewForm bare(nullptr);
  EXPECT_FALSE(bare.Prepare(0));
  bare.NextBtn->click();  // no source: nothing happens
  EXPECT_TRUE(f.messages.empty());
}

TEST(PreviewForm, EscapeClosesAndClearsTheImage) {
  Fixture f(2);
  ASSERT_TRUE(f.Open(0));
  f.form.show();
  QApplication::processEvents();
  EXPECT_EQ(QApplication::focusWidget(), f.form.PreviewImage);
  TImBitmap* b = f.form.PreviewImage->ViewBitmap();
  ASSERT_EQ(b->Width(), 40);
  f.Key(Qt::Key_Escape);
  EXPECT_FALSE(f.form.isVisible());
  EXPECT_EQ(f.form.result(), QDialog::Rejected);
  // Cleared to the background, size kept.
  EXPECT_EQ(b->Width(), 40);
  EXPECT_EQ(b->Height(), 30);
  const TColor bg = ResolveSystemColor(f.form.PreviewImage->Background());
  EXPECT_EQ(b->Scanline(29)[3 * 39 + 2], bg & 0xFF);
  // Row index and record are kept until the next Prepare.
  EXPECT_EQ(f.form.CurrentRow(), 0);
  EXPECT_EQ(f.form.CurrentRecord(), f.list.Finder.Images[0].get());
}
