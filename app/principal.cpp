// The window: its layout, the unattended sequence on first show, and what a run shows in it.
#include "app/principal.h"

#include "app/Gauge.h"
#include "app/NormalCursor.h"
#include "app/RunLogBox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMessageBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

namespace vela {

namespace {

// The run log shows its tail in a box as soon as the window's code is loaded, in the window's library
// or linked into a program. Here, not beside the box's code: from a static library the linker takes
// only the files something calls, and this one is always taken where there is a window.
[[maybe_unused]] const bool logBoxInstalled = (installLogBox(&makeLogBox), true);

} // namespace

TfrmPrincipal::TfrmPrincipal(const AppSettings& settings, QWidget* parent)
    : QWidget(parent), Label1(new QLabel(QStringLiteral("Pasta Local:"), this)), Edit1(new QLineEdit(this)),
      Edit2(new QLineEdit(this)), Button5(new QPushButton(QStringLiteral("Passo 1 - Sincroniza Dados"), this)),
      Button3(new QPushButton(QStringLiteral("Passo 2 - Upload Banco Cadastro"), this)), Gauge1(new Gauge(this)),
      Memo1(new QPlainTextEdit(this)), Button1(new QPushButton(QStringLiteral("Download Banco Cadastro"), this)),
      run_(settings, *this) {
    setObjectName(QStringLiteral("frmPrincipal"));
    setWindowTitle(QStringLiteral("frmPrincipal"));
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    setFixedSize(708, 479);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);

    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(24, 44);
    Label1->adjustSize();
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(24, 63, 465, 21);
    Edit1->setReadOnly(true);
    Edit1->setText(settings.mobilePath());
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setGeometry(24, 90, 465, 21);
    Edit2->setText(settings.sourceDatabase);
    Button5->setObjectName(QStringLiteral("Button5"));
    Button5->setGeometry(24, 114, 465, 25);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button3->setGeometry(24, 145, 465, 25);
    Gauge1->setObjectName(QStringLiteral("Gauge1"));
    Gauge1->setGeometry(24, 176, 465, 19);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(0, 200, 708, 279);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setTabChangesFocus(true);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(184, 16, 217, 25);
    Button1->setVisible(false);

    setTabOrder(Button3, Edit1);
    setTabOrder(Edit1, Memo1);
    setTabOrder(Memo1, Button5);
    setTabOrder(Button5, Edit2);
    Button3->setFocus();

    connect(Button5, &QPushButton::clicked, this, &TfrmPrincipal::Button5Click);
    connect(Button3, &QPushButton::clicked, this, &TfrmPrincipal::Button3Click);
    connect(Button1, &QPushButton::clicked, this, &TfrmPrincipal::Button1Click);

    headless_ = QGuiApplication::platformName() == QLatin1String("offscreen") ||
                QGuiApplication::platformName() == QLatin1String("minimal");
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TfrmPrincipal::~TfrmPrincipal() = default;

void TfrmPrincipal::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TfrmPrincipal::FormShow() {
    if (unattendedArgument())
        run_.runUnattended();
}

void TfrmPrincipal::closeEvent(QCloseEvent* event) {
    if (!run_.closing()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

// ---- what a run shows ---------------------------------------------------------------------------

void TfrmPrincipal::setGaugePosition(int position) {
    Gauge1->setProgress(position);
}

void TfrmPrincipal::setGaugeMaximum(int maximum) {
    Gauge1->setMaxValue(maximum);
}

void TfrmPrincipal::stepGauge() {
    Gauge1->addProgress(1);
}

const GaugeValue& TfrmPrincipal::gauge() const {
    return Gauge1->value();
}

void TfrmPrincipal::showProgress(const QString& what) {
    const QString title = what.isEmpty() ? QStringLiteral("frmPrincipal") : QStringLiteral("frmPrincipal — ") + what;
    if (windowTitle() != title)
        setWindowTitle(title);
}

void TfrmPrincipal::showFailure(const QString& message) {
    NormalCursor normal;
    QMessageBox::critical(this, QCoreApplication::applicationName(), message);
}

void TfrmPrincipal::dismissFailure() {
    if (QWidget* box = QApplication::activeModalWidget())
        box->close();
}

// The busy pointer while the database is worked on, and no second step started from inside one.
// Disabling the buttons moves the focus on to a text field; it comes back to the step's button, so
// the next key pressed does not replace a path.
void TfrmPrincipal::stepBegan(RunStep) {
    // Disabling the button that has the focus would hand it on along the tab order, to the source
    // path with its text selected, where the next key pressed replaces the path. The run log takes
    // it instead, and the path cannot change while the step runs.
    Memo1->setFocus(Qt::OtherFocusReason);
    Edit2->setReadOnly(true);
    Button5->setEnabled(false);
    Button3->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void TfrmPrincipal::stepEnded(RunStep step) {
    QApplication::restoreOverrideCursor();
    Edit2->setReadOnly(false);
    Button5->setEnabled(true);
    Button3->setEnabled(true);
    (step == RunStep::Sync ? Button5 : Button3)->setFocus(Qt::OtherFocusReason);
}

QString TfrmPrincipal::sourcePath() const {
    return Edit2->text();
}

void TfrmPrincipal::setSourcePath(const QString& path) {
    Edit2->setText(path);
}

QString TfrmPrincipal::mobilePath() const {
    return Edit1->text();
}

void TfrmPrincipal::betweenCalls() {
    // The next database call may be long: what is pending is painted, and the system asked for its
    // events, before it, not after.
    repaint();
    systemEventsAt_ = {};
    processEvents();
}

void TfrmPrincipal::processEvents() {
    // Once per row. What the program posted to itself (repaints, the title, queued calls) is
    // delivered on every call. Asking the system for its events (input, the display server, timers,
    // the stop signal's pipe) is a call into the kernel, over 2 µs, and costs the database engine about
    // as much again in what it leaves of the processor's caches: more than the rest of a row's work.
    // It is done at most once per kSystemEventsInterval, which nobody at the window can tell from
    // every row; the stop token watches the stop signal's flag, so the step sees a signal anyway.
    auto now = std::chrono::steady_clock::now();
    if (now - systemEventsAt_ >= kSystemEventsInterval) {
        systemEventsAt_ = now;
        QCoreApplication::processEvents();
    } else {
        QCoreApplication::sendPostedEvents();
    }
}

} // namespace vela
