// Construction of the main window's controls: panes, fields, picture slots, lines and buttons,
// with their names, built-in captions and places. The panes, in client pixels (1296 x 702):
//
//  0                      577                                                         1296
//  +- TntPanel1 -----------+- TntPanel2 ------------------------------------------------+
//  | TntGroupBox1          | TntPanel3: TntPanel7 (lbLang cbLang ........ TntPanel9 logo)|
//  |  patient fields       |            lbTitle cbTitle  lbProposer cbProposer  edtDoctor|
//  |  (lstNumber, plGrid   +-------------------------------------------------------- 75 -+
//  |   float over it)      | plMovieContainter (plProcessContainter in the same place)  |
//  +-----------------------+   plMovie 642 x 482: Imagemovie over imageFront             |
//  | TntGroupBox2          |   lbResulutionCap TrackBar1 lbResolution                    |
//  |  imgPic1..4 slots     |   btnCameraProp btnRecord btnOpenVideo      btnCalibration  |
//  |  mmSymp5, diagnosis   |                                                             |
//  +-----------------------+                                                             |
//  | TntGroupBox3 treatment|                                                             |
//  +-----------------------+                                                             |
//  | btnGenReport btnPrevReport btnPrint btnGetPhoto                                     |
//  +-----------------------+-------------------------------------------------------------+
#include "app/untMain.h"
#include "capture/LivePictureView.h"
#include "imaging/ImageControl.h"
#include "imaging/untProcess.h"
#include "ui/FittingLabel.h"
#include "ui/LogoImage.h"
#include "ui/RotatedLabel.h"

#include <QAction>
#include <QBitmap>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTableView>
#include <QToolButton>

namespace {

constexpr int kClientWidth = 1296;
constexpr int kClientHeight = 702;
constexpr int kLeftPaneWidth = 577;
constexpr int kHeaderHeight = 75;
const QColor kCream(255, 251, 240);

template<typename Control, typename... Args> Control *make(QWidget *parent, const char *name, Args &&...args)
{
    auto *control = new Control(std::forward<Args>(args)..., parent);
    control->setObjectName(QLatin1String(name));
    return control;
}

QLabel *label(QWidget *parent, const char *name, const QString &caption, int left, int top, int width = -1)
{
    // Captions keep their places in every language: a longer text is drawn smaller.
    auto *control = make<FittingLabel>(parent, name, caption);
    if (width < 0)
        control->move(left, top);
    else
        control->setGeometry(left, top, width, 18);
    if (width < 0)
        control->adjustSize();
    return control;
}

QLineEdit *field(QWidget *parent, const char *name, QLabel *caption, const QRect &geometry)
{
    auto *control = make<QLineEdit>(parent, name);
    control->setGeometry(geometry);
    caption->setBuddy(control);
    return control;
}

QComboBox *dropDown(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *control = make<QComboBox>(parent, name);
    control->setEditable(true);
    control->setInsertPolicy(QComboBox::NoInsert);
    control->setGeometry(geometry);
    return control;
}

QPushButton *button(QWidget *parent, const char *name, const QString &caption, const QRect &geometry)
{
    auto *control = make<QPushButton>(parent, name, caption);
    control->setGeometry(geometry);
    return control;
}

QFrame *panel(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *control = make<QFrame>(parent, name);
    control->setGeometry(geometry);
    return control;
}

// A narrow word-wrapped side label in which a Chinese text stands one character per line.
QLabel *stackedLabel(QWidget *parent, const char *name, const QString &caption, const QRect &geometry)
{
    auto *control = make<QLabel>(parent, name, caption);
    control->setGeometry(geometry);
    control->setWordWrap(true);
    control->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    return control;
}

RotatedLabel *rotatedLabel(QWidget *parent, const char *name, QLabel *twin, int height)
{
    auto *control = make<RotatedLabel>(parent, name);
    control->setGeometry(twin->x(), twin->y(), 16, height);
    control->hide();
    return control;
}

// The built-in logo, 145 x 28 and 24-bit, shown until a logo file replaces it; drawn
// transparently like any logo, keyed on its white bottom-left pixel.
QPixmap builtInLogo()
{
    QImage picture(145, 28, QImage::Format_RGB888);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink(20, 70, 140);
    painter.setPen(QPen(ink, 2));
    painter.drawEllipse(QRectF(3, 4, 20, 20));
    painter.drawLine(QPointF(13, 8), QPointF(13, 20));
    painter.drawLine(QPointF(7, 14), QPointF(19, 14));
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(15);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(28, 0, 117, 28), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("ExamStation"));
    painter.end();
    QPixmap logo = QPixmap::fromImage(picture);
    const QRgb key = picture.pixel(0, picture.height() - 1);
    logo.setMask(QBitmap::fromImage(picture.createMaskFromColor(key, Qt::MaskInColor)));
    return logo;
}

} // namespace

void TfrmMain::setupWindow()
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("ExamStation"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    QFont windowFont(QStringLiteral("微软雅黑"));
    windowFont.setFamilies({QStringLiteral("微软雅黑"), QStringLiteral("Noto Sans CJK SC")});
    windowFont.setPixelSize(11);
    setFont(windowFont);
    resize(kClientWidth, kClientHeight);
    setMaximumSize(1366, 768);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }

    TntPanel1 = panel(this, "TntPanel1", QRect(0, 0, kLeftPaneWidth, kClientHeight));
    TntPanel2 = panel(this, "TntPanel2", QRect(kLeftPaneWidth, 0, kClientWidth - kLeftPaneWidth, kClientHeight));
    TntPanel2->setFocusPolicy(Qt::ClickFocus);
}

void TfrmMain::setupPatientGroup()
{
    TntGroupBox1 = make<QGroupBox>(TntPanel1, "TntGroupBox1");
    TntGroupBox1->setGeometry(4, 0, 569, 92);
    QGroupBox *group = TntGroupBox1;

    lbInputInfo = label(group, "lbInputInfo", QStringLiteral("输入资料"), 8, 6);
    lbNumber = label(group, "lbNumber", QStringLiteral("编号"), 8, 32, 40);
    edtNumber = field(group, "edtNumber", lbNumber, QRect(50, 28, 110, 22));
    btnNew = button(group, "btnNew", QStringLiteral("+"), QRect(163, 28, 22, 22));
    btnDelCient = button(group, "btnDelCient", QStringLiteral("-"), QRect(188, 28, 22, 22));
    lbName = label(group, "lbName", QStringLiteral("姓名"), 220, 32, 40);
    edtName = field(group, "edtName", lbName, QRect(262, 28, 120, 22));
    lbSex = label(group, "lbSex", QStringLiteral("性别"), 396, 32, 40);
    cbSex = dropDown(group, "cbSex", QRect(438, 28, 120, 22));
    cbSex->addItems({QStringLiteral("男"), QStringLiteral("女")});
    lbSex->setBuddy(cbSex);

    lbAge = label(group, "lbAge", QStringLiteral("年龄"), 8, 64, 40);
    edtAge = field(group, "edtAge", lbAge, QRect(50, 60, 110, 22));
    lbTel = label(group, "lbTel", QStringLiteral("电话"), 220, 64, 40);
    edtTel = field(group, "edtTel", lbTel, QRect(262, 60, 120, 22));
    lbAddr = label(group, "lbAddr", QStringLiteral("地址"), 396, 64, 40);
    edtAddr = field(group, "edtAddr", lbAddr, QRect(438, 60, 120, 22));

    // The number list hangs below the number field over the sheet, so it lives in the left pane.
    lstNumber = make<QListView>(TntPanel1, "lstNumber");
    lstNumber->hide();
}

void TfrmMain::setupSheetGroup()
{
    TntGroupBox2 = make<QGroupBox>(TntPanel1, "TntGroupBox2");
    TntGroupBox2->setGeometry(4, 94, 569, 446);
    QGroupBox *group = TntGroupBox2;

    lbPic = stackedLabel(group, "lbPic", QStringLiteral("检查所见"), QRect(40, 16, 11, 257));
    lbPic_an = rotatedLabel(group, "lbPic_an", lbPic, 257);

    const QPoint framePlaces[4] = {{79, 13}, {312, 13}, {79, 154}, {312, 154}};
    for (int slot = 0; slot < 4; ++slot) {
        const QByteArray number = QByteArray::number(slot + 1);
        plImageContener[slot] = make<QFrame>(group, QByteArray("plImageContener" + number).constData());
        plImageContener[slot]->setGeometry(QRect(framePlaces[slot], QSize(168, 128)));
        plImageContener[slot]->setAutoFillBackground(true);
        QPalette rim = plImageContener[slot]->palette();
        rim.setColor(QPalette::Window, kCream);
        plImageContener[slot]->setPalette(rim);
        plMask[slot] = make<QFrame>(plImageContener[slot], QByteArray("plMask" + number).constData());
        plMask[slot]->setFrameShape(QFrame::NoFrame);
        imgPic[slot] = make<ImageControl>(plMask[slot], QByteArray("imgPic" + number).constData());
        imgPic[slot]->setTag(slot + 1);
        imgPic[slot]->setContextMenuPolicy(Qt::CustomContextMenu);
    }

    mmSymp5 = make<QPlainTextEdit>(group, "mmSymp5");
    mmSymp5->setGeometry(79, 288, 401, 44);

    lbSypmtom = stackedLabel(group, "lbSypmtom", QStringLiteral("诊    断"), QRect(36, 338, 18, 100));
    lbSypmtom_an = rotatedLabel(group, "lbSypmtom_an", lbSypmtom, 145);
    for (int line = 0; line < 4; ++line) {
        const QByteArray number = QByteArray::number(line + 1);
        const int top = 338 + line * 26;
        symptomLines[line] = dropDown(group, QByteArray("TntComboBox" + number).constData(), QRect(79, top, 370, 24));
        symptomButtons[line] = make<QToolButton>(group, QByteArray("TntSpeedButton" + number).constData());
        symptomButtons[line]->setText(QStringLiteral("-"));
        symptomButtons[line]->setGeometry(452, top, 24, 24);
    }
}

void TfrmMain::setupTreatmentGroup()
{
    TntGroupBox3 = make<QGroupBox>(TntPanel1, "TntGroupBox3");
    TntGroupBox3->setGeometry(4, 542, 569, 110);
    TntGroupBox3->setFocusPolicy(Qt::ClickFocus);
    QGroupBox *group = TntGroupBox3;

    lbTreat = stackedLabel(group, "lbTreat", QStringLiteral("处置意见"), QRect(36, 14, 18, 79));
    lbTreat_an = rotatedLabel(group, "lbTreat_an", lbTreat, 79);
    ckbHaveTreat = make<QCheckBox>(group, "ckbHaveTreat");
    ckbHaveTreat->setGeometry(58, 44, 18, 18);
    // Lines 1 and 2 side by side, 3 and 4 below them; each "-" button at its line's right.
    for (int line = 0; line < 4; ++line) {
        const QByteArray number = QByteArray::number(21 + line);
        const int left = line % 2 == 0 ? 79 : 320;
        const int top = line < 2 ? 30 : 64;
        treatLines[line] = dropDown(group, QByteArray("TntComboBox" + number).constData(), QRect(left, top, 210, 24));
        treatButtons[line] = make<QToolButton>(group, QByteArray("TntSpeedButton" + number).constData());
        treatButtons[line]->setText(QStringLiteral("-"));
        treatButtons[line]->setGeometry(left + 213, top, 24, 24);
    }
}

void TfrmMain::setupSheetButtons()
{
    btnGenReport = button(TntPanel1, "btnGenReport", QStringLiteral("生成报告"), QRect(79, 662, 100, 30));
    btnPrevReport = button(TntPanel1, "btnPrevReport", QStringLiteral("预览报告"), QRect(199, 662, 100, 30));
    btnPrint = button(TntPanel1, "btnPrint", QStringLiteral("打印报告"), QRect(319, 662, 100, 30));
    btnGetPhoto = button(TntPanel1, "btnGetPhoto", QStringLiteral("调看照片"), QRect(439, 662, 100, 30));
}

void TfrmMain::setupPatientGrid()
{
    plGrid = panel(TntPanel1, "plGrid", QRect(8, 96, 553, 281));
    plGrid->setFrameShape(QFrame::StyledPanel);
    plGrid->setAutoFillBackground(true);
    clientGrid = make<QTableView>(plGrid, "clientGrid");
    clientGrid->setGeometry(24, 24, 497, 233);
    clientGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    clientGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    clientGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    clientGrid->setShowGrid(true);
    clientGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    clientGrid->verticalHeader()->setVisible(true);
    // Hidden until a search finds rows, also when start-up ends early.
    plGrid->hide();
}

void TfrmMain::setupHeaderLine()
{
    const int paneWidth = TntPanel2->width();
    TntPanel3 = panel(TntPanel2, "TntPanel3", QRect(0, 0, paneWidth, kHeaderHeight));
    TntPanel3->setFocusPolicy(Qt::ClickFocus);
    TntPanel7 = panel(TntPanel3, "TntPanel7", QRect(0, 0, paneWidth, 36));
    TntPanel7->setFocusPolicy(Qt::ClickFocus);

    lbLang = label(TntPanel7, "lbLang", QStringLiteral("语言"), 8, 10, 70);
    cbLang = dropDown(TntPanel7, "cbLang", QRect(80, 6, 140, 24));
    cbLang->addItems({QStringLiteral("中文"), QStringLiteral("English")});
    lbLang->setBuddy(cbLang);

    // The database server's sign takes the right part of the outbox's line.
    const int signWidth = paneWidth - 145 - 6 - 240;
    lbDicomState = label(TntPanel7, "lbDicomState", QString(), 232, 10, signWidth - signWidth / 2);
    lbDicomState->hide();
    lbServerState = label(TntPanel7, "lbServerState", QString(), 232 + signWidth - signWidth / 2, 10, signWidth / 2);
    lbServerState->setStyleSheet(QStringLiteral("color: #b03a2e"));
    lbServerState->hide();

    TntPanel9 = panel(TntPanel7, "TntPanel9", QRect(paneWidth - 145 - 6, 2, 145, 31));
    imgLogo = make<LogoImage>(TntPanel9, "imgLogo");
    imgLogo->setGeometry(0, 0, 145, 31);
    imgLogo->setScaledContents(true);
    imgLogo->setPixmap(builtInLogo());

    lbTitle = label(TntPanel3, "lbTitle", QStringLiteral("报告名称"), 8, 46, 72);
    cbTitle = dropDown(TntPanel3, "cbTitle", QRect(80, 42, 150, 24));
    lbTitle->setBuddy(cbTitle);
    lbProposer = label(TntPanel3, "lbProposer", QStringLiteral("申请医生"), 240, 46, 92);
    cbProposer = dropDown(TntPanel3, "cbProposer", QRect(332, 42, 136, 24));
    lbProposer->setBuddy(cbProposer);
    lbDoctor = label(TntPanel3, "lbDoctor", QStringLiteral("诊断医生"), 478, 46, 92);
    edtDoctor = field(TntPanel3, "edtDoctor", lbDoctor, QRect(570, 42, 140, 24));
}

void TfrmMain::setupLivePictureArea()
{
    const QRect belowHeader(0, kHeaderHeight, TntPanel2->width(), TntPanel2->height() - kHeaderHeight);
    plMovieContainter = panel(TntPanel2, "plMovieContainter", belowHeader);
    plMovieContainter->setFocusPolicy(Qt::ClickFocus);
    plMovie = panel(plMovieContainter, "plMovie", QRect(38, 8, 642, 482));
    plMovie->setFrameShape(QFrame::Box);
    plMovie->setLineWidth(1);

    // The overlay lies behind the live picture; calibration brings it to the front.
    imageFront = make<ImageControl>(plMovie, "imageFront");
    Imagemovie = make<LivePictureView>(plMovie, "Imagemovie");

    lbResulutionCap = label(plMovieContainter, "lbResulutionCap", QStringLiteral("分辨率："), 38, 504, 70);
    TrackBar1 = make<QSlider>(plMovieContainter, "TrackBar1", Qt::Horizontal);
    TrackBar1->setGeometry(110, 500, 300, 24);
    TrackBar1->setRange(1, 1);
    TrackBar1->setFocusPolicy(Qt::StrongFocus);
    lbResulutionCap->setBuddy(TrackBar1);
    lbResolution = label(plMovieContainter, "lbResolution", QStringLiteral("640x480"), 420, 504, 120);

    btnCameraProp = button(plMovieContainter, "btnCameraProp", QStringLiteral("视频设置"), QRect(38, 584, 113, 25));
    btnRecord = button(plMovieContainter, "btnRecord", QStringLiteral("录像"), QRect(178, 584, 113, 25));
    btnOpenVideo = button(plMovieContainter, "btnOpenVideo", QStringLiteral("打开视频"), QRect(318, 584, 113, 25));
    btnCalibration = button(plMovieContainter, "btnCalibration", QStringLiteral("测量校准"), QRect(560, 584, 113, 25));
    btnCalibration->setCheckable(true);
}

void TfrmMain::setupProcessingArea()
{
    plProcessContainter = panel(TntPanel2, "plProcessContainter", plMovieContainter->geometry());
    plProcessContainter->hide();
}

void TfrmMain::setupActions()
{
    actPreview = new QAction(QStringLiteral("actPreview"), this);
    actPreview->setObjectName(QStringLiteral("actPreview"));
    actStop = new QAction(QStringLiteral("actStop"), this);
    actStop->setObjectName(QStringLiteral("actStop"));
}

// Every control is reachable by assistive technology: its accessible description is its name.
// A button's accessible name is its caption and a field's the text of its buddy label, both
// given by Qt as long as no fixed accessible name is set, so they follow the language.
void TfrmMain::describeControlsForAccessibility()
{
    for (QWidget *control : findChildren<QWidget *>()) {
        if (!control->objectName().isEmpty())
            control->setAccessibleDescription(control->objectName());
    }
}
