// frmStep1's controls. Positions come in twips (1/1440 inch) as the window was designed;
// at 96 dots per inch a pixel is 15 twips.
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <cmath>

#include "app/frm_step1.h"
#include "run/run_texts.h"
#include "app/link_label.h"
#include "app/status_label.h"

// The icons are compiled into this static library; its resource table has to be named
// once, from the global namespace, or the linker drops it.
static void InitResources() { Q_INIT_RESOURCE(mailvane); }

namespace mailvane::app {
namespace {

constexpr double kTwipsPerPixel = 15.0;

int Px(int twips) { return static_cast<int>(std::lround(twips / kTwipsPerPixel)); }

QRect Twips(int left, int top, int width, int height) {
  return QRect(Px(left), Px(top), Px(width), Px(height));
}

const QColor kWhite(255, 255, 255);
const QColor kLightYellow(255, 255, 192);
const QColor kDarkRed(192, 0, 0);

// Tahoma where installed; otherwise the closest narrow sans serif the system has, so the
// texts keep roughly the width the layout was drawn for.
QString BaseFamily() {
  const QStringList installed = QFontDatabase::families();
  for (const char* family : {"Tahoma", "DejaVu Sans Condensed", "Liberation Sans", "DejaVu Sans"}) {
    if (installed.contains(QString::fromLatin1(family), Qt::CaseInsensitive)) {
      return QString::fromLatin1(family);
    }
  }
  return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

QFont BaseFont() {
  QFont font(BaseFamily());
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(8.25);
  font.setWeight(QFont::Normal);
  return font;
}

void Fill(QWidget* widget, const QColor& colour) {
  QPalette pal = widget->palette();
  pal.setColor(QPalette::Window, colour);
  widget->setPalette(pal);
  widget->setAutoFillBackground(true);
}

template <typename Label = QLabel>
Label* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& rect) {
  auto* label = new Label(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  // Plain text: a status line may carry a path, which must never be read as markup.
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setGeometry(rect);
  return label;
}

QFrame* MakeShape(QWidget* parent, const char* name, const QRect& rect, const QColor& fill) {
  auto* shape = new QFrame(parent);
  shape->setObjectName(QString::fromLatin1(name));
  shape->setGeometry(rect);
  Fill(shape, fill);
  return shape;
}

QLabel* MakeImage(QWidget* parent, const char* name, const QString& resource, const QRect& rect) {
  auto* image = new QLabel(parent);
  image->setObjectName(QString::fromLatin1(name));
  image->setTextFormat(Qt::PlainText);
  image->setGeometry(rect);
  image->setPixmap(QPixmap(resource).scaled(rect.size(), Qt::KeepAspectRatio,
                                            Qt::SmoothTransformation));
  return image;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, const QRect& rect) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(rect);
  button->setFocusPolicy(Qt::StrongFocus);
  // Enter presses the button that has the focus, as Space does.
  button->setAutoDefault(true);
  return button;
}

}  // namespace

void FrmStep1::BuildControls() {
  InitResources();
  setObjectName(QStringLiteral("frmStep1"));
  setWindowTitle(QString::fromLatin1(run::kWindowCaption));
  setWindowIcon(QIcon(QStringLiteral(":/mailvane/mailvane.png")));
  setFont(BaseFont());
  setFixedSize(Px(8295), Px(5805));

  // Created bottom-up: the bands first, so the controls drawn over them stay on top.
  MakeShape(this, "Shape2", Twips(0, 0, 8415, 855), kWhite);

  lblTitle_ = MakeLabel(this, "lblTitle", QStringLiteral("Larkwell Mailvane"),
                        Twips(240, 120, 6255, 375));
  QFont title_font = font();
  title_font.setPointSizeF(14.25);
  title_font.setBold(true);
  lblTitle_->setFont(title_font);
  Fill(lblTitle_, kWhite);
  QPalette title_pal = lblTitle_->palette();
  title_pal.setColor(QPalette::WindowText, kDarkRed);
  lblTitle_->setPalette(title_pal);

  QLabel* label3 = MakeLabel(
      this, "Label3",
      QStringLiteral("Mailvane supports conversion of emails, contacts, calendars, tasks, notes "
                     "from zimbra .tgz files. Supports Outlook Version 2013 (32 Bit), 2010 "
                     "(32 Bit), 2007, 2003 for conversion."),
      Twips(240, 960, 7935, 480));
  label3->setWordWrap(true);

  QFrame* shape3 = MakeShape(this, "Shape3", Twips(240, 1440, 7815, 495), kLightYellow);
  shape3->setFrameStyle(QFrame::Box | QFrame::Plain);

  MakeImage(this, "Image2", QStringLiteral(":/mailvane/extract.png"), Twips(360, 1560, 240, 240));
  QLabel* label2 = MakeLabel(this, "Label2",
                             QStringLiteral("First extract exported .TGZ file and then browse main "
                                            "folder having extracted files from .tgz file"),
                             Twips(720, 1560, 7215, 255));
  Fill(label2, kLightYellow);

  CmdAddFolder_ = MakeButton(this, "CmdAddFolder",
                             QStringLiteral("Add Folder having Zimbra File(s)..."),
                             Twips(240, 2160, 3135, 375));

  MakeImage(this, "Image1", QStringLiteral(":/mailvane/help.png"), Twips(4320, 2230, 240, 240));
  Label4_ = new LinkLabel(QStringLiteral("Need Help - Read Step-by-Step Product Guide"), this);
  Label4_->setObjectName(QStringLiteral("Label4"));
  Label4_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label4_->setGeometry(Twips(4680, 2230, 3375, 255));

  lblCount1_ = MakeLabel(this, "lblCount1", QString(), Twips(240, 2640, 7815, 255));

  FrameConversion_ = new QGroupBox(QStringLiteral("Details"), this);
  FrameConversion_->setObjectName(QStringLiteral("FrameConversion"));
  FrameConversion_->setGeometry(Twips(240, 3120, 7815, 1335));
  LblCurrentDBX_ = MakeLabel<StatusLabel>(FrameConversion_, "LblCurrentDBX",
                                          QStringLiteral("Converting Messages..."),
                                          Twips(120, 240, 7455, 615));
  MakeLabel(FrameConversion_, "Label1", QStringLiteral("Conversion Progress  : "),
            Twips(120, 960, 1695, 255));
  ProgressBar1_ = new QProgressBar(FrameConversion_);
  ProgressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1_->setGeometry(Twips(1800, 960, 5895, 255));
  ProgressBar1_->setRange(0, 100);
  ProgressBar1_->setValue(0);
  ProgressBar1_->setTextVisible(false);
  // The caption sits on the frame's top line, as the layout was drawn, whatever the style.
  // Set once the children exist: set before, Qt gives them the application's font.
  FrameConversion_->setStyleSheet(QStringLiteral(
      "QGroupBox#FrameConversion { border: 1px solid palette(mid); border-radius: 2px;"
      " margin-top: 0.5em; }"
      "QGroupBox#FrameConversion::title { subcontrol-origin: margin; left: 6px;"
      " padding: 0 2px; }"));

  CmdExtractDBX_ = MakeButton(this, "CmdExtractDBX", QStringLiteral("Convert &Messages"),
                              Twips(2760, 4560, 2775, 435));
  CmdExtractDBX_->setEnabled(false);

  MakeShape(this, "Shape1", Twips(0, 5160, 8415, 855), kWhite);
  auto* picture3 = new QWidget(this);
  picture3->setObjectName(QStringLiteral("Picture3"));
  picture3->setGeometry(Twips(240, 5280, 7935, 495));
  Fill(picture3, kWhite);
  CmdHelp_ = MakeButton(picture3, "CmdHelp", QStringLiteral("&Help Manual"),
                        Twips(0, 0, 1695, 375));
  cmdEnd_ = MakeButton(picture3, "cmdEnd", QStringLiteral("E&xit"), Twips(6480, 0, 1335, 375));

  // The order in which a person meets them: choose, convert, then help and leave.
  setTabOrder(CmdAddFolder_, CmdExtractDBX_);
  setTabOrder(CmdExtractDBX_, Label4_);
  setTabOrder(Label4_, CmdHelp_);
  setTabOrder(CmdHelp_, cmdEnd_);
}

}  // namespace mailvane::app
