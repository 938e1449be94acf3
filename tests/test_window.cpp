// The main window, its gauge and its run log, offscreen.
#include "app/Gauge.h"
#include "app/NormalCursor.h"
#include "app/RunLog.h"
#include "app/RunSummary.h"
#include "app/principal.h"
#include "common/Error.h"
#include "tests/support/TestEnv.h"
#include "tests/support/WidgetsApp.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace vela;

namespace {

QApplication& app() {
    return test::widgetsApp();
}

AppSettings settings() {
    static test::TempDir logs; // what a step's failure leaves goes here, not beside the tests
    AppSettings s;
    s.mobileFolder = QStringLiteral("/srv/movel");
    s.sourceDatabase = QStringLiteral("/srv/dados/BANCODADOS.FDB");
    s.logFolder = QString::fromStdString(logs.path());
    return s;
}

// A window whose step 2 fails at once with an error: its mobile file does not exist.
struct ShownWindow {
    ShownWindow() : w(settings()) {
        w.Edit1->setText(QStringLiteral("/nonexistent/BANCODADOS.gdb"));
        w.show();
        w.activateWindow();
        active = QTest::qWaitForWindowActive(&w);
    }
    TfrmPrincipal w;
    bool active = false;
};

} // namespace

TEST(Window, ControlsStandWhereTheFormPutsThem) {
    app();
    TfrmPrincipal w(settings());
    w.show();
    EXPECT_EQ(w.windowTitle(), "frmPrincipal");
    EXPECT_EQ(w.size(), QSize(708, 479));
    EXPECT_EQ(w.font().family(), "Tahoma");
    EXPECT_EQ(w.font().pointSize(), 8);

    struct Expect {
        const char* name;
        QRect rect;
        QString text;
    };
    for (const Expect& e : {Expect{"Edit1", {24, 63, 465, 21}, "/srv/movel/Banco/BANCODADOS.gdb"},
                            Expect{"Edit2", {24, 90, 465, 21}, "/srv/dados/BANCODADOS.FDB"},
                            Expect{"Button5", {24, 114, 465, 25}, "Passo 1 - Sincroniza Dados"},
                            Expect{"Button3", {24, 145, 465, 25}, "Passo 2 - Upload Banco Cadastro"},
                            Expect{"Button1", {184, 16, 217, 25}, "Download Banco Cadastro"}}) {
        QWidget* c = w.findChild<QWidget*>(e.name);
        ASSERT_NE(c, nullptr) << e.name;
        EXPECT_EQ(c->geometry(), e.rect) << e.name;
        if (auto* b = qobject_cast<QPushButton*>(c)) {
            EXPECT_EQ(b->text(), e.text);
        }
        if (auto* l = qobject_cast<QLineEdit*>(c)) {
            EXPECT_EQ(l->text(), e.text);
        }
    }
    EXPECT_EQ(w.findChild<QWidget*>("Gauge1")->geometry(), QRect(24, 176, 465, 19));
    EXPECT_EQ(w.findChild<QWidget*>("Memo1")->geometry(), QRect(0, 200, 708, 279));
    EXPECT_EQ(w.findChild<QLabel*>("Label1")->text(), "Pasta Local:");
    EXPECT_EQ(w.findChild<QLabel*>("Label1")->pos(), QPoint(24, 44));
    EXPECT_TRUE(w.Edit1->isReadOnly());
    EXPECT_FALSE(w.Edit2->isReadOnly());
    EXPECT_FALSE(w.Memo1->isReadOnly());
    EXPECT_FALSE(w.Button1->isVisible());

    // Tab order: Button3, Edit1, Memo1, Button5, Edit2.
    std::vector<QWidget*> order{w.Button3, w.Edit1, w.Memo1, w.Button5, w.Edit2};
    for (size_t i = 0; i + 1 < order.size(); ++i) {
        QWidget* next = order[i]->nextInFocusChain();
        while (!(next->focusPolicy() & Qt::TabFocus) || !next->isVisible())
            next = next->nextInFocusChain();
        EXPECT_EQ(next, order[i + 1]) << i;
    }
}

TEST(Window, GaugeClampsAndRefusesAMaximumBelowItsMinimum) {
    app();
    Gauge g;
    EXPECT_EQ(g.maxValue(), 100);
    g.setProgress(150);
    EXPECT_EQ(g.progress(), 100);
    g.setProgress(-5);
    EXPECT_EQ(g.progress(), 0);
    g.setProgress(40);
    EXPECT_EQ(g.percentDone(), 40);
    g.setMaxValue(10); // below the position: the position follows
    EXPECT_EQ(g.progress(), 10);
    EXPECT_EQ(g.percentDone(), 100);
    try {
        g.setMaxValue(-1);
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Value must be between 1 and 2147483647");
    }
    g.setMaxValue(0);
    EXPECT_EQ(g.progress(), 0);
    EXPECT_EQ(g.percentDone(), 0);
    g.addProgress(1);
    EXPECT_EQ(g.progress(), 0);
}

TEST(Window, RunLogKeepsEveryLineAndWhatTheUserTyped) {
    app();
    QPlainTextEdit memo;
    RunLog log(&memo);
    EXPECT_EQ(log.lines(), QStringList{""});
    log.append(QStringLiteral("INICIO SINCRONIZAÇÃO"));
    log.appendCp1252("Sincronizando Estado: \xa0\xe3\x81");
    log.append(QStringLiteral("two\nlines"));
    log.flush();
    // The user types a line at the end of the box; later lines still go after it.
    QTextCursor c(memo.document());
    c.movePosition(QTextCursor::End);
    c.insertText(QStringLiteral(" typed"));
    log.append(QStringLiteral("last"));
    EXPECT_EQ(log.fileContent(), std::string("\r\nINICIO SINCRONIZA\xc7\xc3O\r\nSincronizando Estado: \xa0\xe3\x81\r\n"
                                             "two\r\nlines typed\r\nlast\r\n\r\n"));
}

TEST(Window, AnUnattendedArgumentIsNeededToRunAnything) {
    app();
    TfrmPrincipal w(settings());
    w.show(); // no EXECUTAR among the test's arguments: nothing runs, nothing ends
    EXPECT_FALSE(w.ended());
    EXPECT_EQ(w.runLog().lines(), QStringList{""});
    EXPECT_TRUE(w.Button5->isEnabled());
    EXPECT_TRUE(w.Button3->hasFocus() || !QApplication::focusWidget());
}

TEST(Window, ALongRunLogKeepsOnlyItsTailInTheBoxAndLosesNothing) {
    app();
    QPlainTextEdit memo;
    RunLog log(&memo);
    std::string expected = "\r\n";
    for (int i = 0; i < 30000; ++i) {
        std::string line = "Sincronizando Produto: \xe7" + std::to_string(i);
        log.appendCp1252(line);
        if (i % 1000 == 0)
            log.flush();
        expected += line + "\r\n";
    }
    log.flush();
    EXPECT_LE(memo.document()->blockCount(), 10000);
    EXPECT_EQ(log.fileContent(), expected + "\r\n");
    // A batch longer than the box keeps goes mostly straight to the saved text (here megabytes of it,
    // read back a megabyte at a time).
    for (int i = 0; i < 80000; ++i) {
        std::string line = "Sincronizando Item: \xa0" + std::to_string(i);
        log.appendCp1252(line);
        expected += line + "\r\n";
    }
    log.append(QStringLiteral("two\nlines"));
    expected += "two\r\nlines\r\n";
    log.flush();
    EXPECT_LE(memo.document()->blockCount(), 10000);
    EXPECT_EQ(log.fileContent(), expected + "\r\n");
    EXPECT_EQ(log.lastLine(), QStringLiteral("lines"));
}

TEST(Window, TabWalksTheControlsAndNeverWritesIntoTheRunLog) {
    app();
    ShownWindow s;
    ASSERT_TRUE(s.active);
    TfrmPrincipal& w = s.w;
    w.Button3->setFocus();
    for (QWidget* next : std::vector<QWidget*>{w.Edit1, w.Memo1, w.Button5, w.Edit2}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
    EXPECT_FALSE(w.Memo1->toPlainText().contains(QLatin1Char('\t')));
}

TEST(Window, AfterAStepTheFocusIsBackOnItsButtonAndTheTitleIsFixedAgain) {
    app();
    ShownWindow s;
    ASSERT_TRUE(s.active);
    TfrmPrincipal& w = s.w;
    // A table copy shows its progress after the title.
    w.tableStarted("Produto");
    w.setGaugeMaximum(100);
    w.setGaugePosition(41);
    w.rowCopied();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("frmPrincipal — Produto 41 %"));
    // A quota's products show the share of all the quotas' products, not of the quota's own.
    w.tableStarted("ProdutoCotaNegociação");
    w.setGaugeMaximum(4);
    w.setGaugePosition(3);
    w.childRowCopied(10, 40);
    w.rowCopied();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("frmPrincipal — ProdutoCotaNegociação 25 %"));
    w.tableStarted("CVF");
    w.rowCopied();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("frmPrincipal — CVF 75 %"));

    // During a step a key pressed changes no setting, wherever the focus went.
    const QString source = w.Edit2->text();
    w.Button5->setFocus();
    w.stepBegan(RunStep::Sync);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QTest::keyClick(w.Edit2, Qt::Key_X);
    EXPECT_EQ(w.Edit2->text(), source);
    w.stepEnded(RunStep::Sync);

    QTest::mouseClick(w.Button3, Qt::LeftButton); // the step fails: headless, the message goes to stderr
    EXPECT_TRUE(w.lastError().startsWith(QStringLiteral("Cannot "))) << w.lastError().toStdString();
    EXPECT_EQ(QApplication::focusWidget(), w.Button3);
    EXPECT_FALSE(w.Edit1->hasSelectedText());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("frmPrincipal"));
    // The failed step is how the program ends, whenever the window is closed.
    w.close();
    EXPECT_TRUE(w.ended());
    EXPECT_EQ(w.exitCode(), 1);
}

TEST(Window, TheErrorBoxWaitsUnderTheNormalPointer) {
    app();
    ShownWindow s;
    TfrmPrincipal& w = s.w;
    w.setHeadless(false); // the test answers the box
    bool boxSeen = false, busyOverBox = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxSeen = true;
            busyOverBox = QApplication::overrideCursor() != nullptr;
            box->accept();
        }
    });
    answer.start(5);
    w.Button3Click();
    answer.stop();
    EXPECT_TRUE(boxSeen);
    EXPECT_FALSE(busyOverBox);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // A box inside a step that goes on: the busy pointer is back after it.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    {
        NormalCursor normal;
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QApplication::restoreOverrideCursor();
}

TEST(Window, TheSummaryLineCountsTablesRowsAndTheUpload) {
    using namespace std::chrono_literals;
    RunSummary r;
    RunSummary::Clock::time_point t0;
    r.syncBegan(t0);
    // The products of each quota come under a header of their own; with or without quotas the
    // products table is one table of the run.
    for (const char* t : {"Estados", "CotaNegociação", "ProdutoCotaNegociação", "ProdutoCotaNegociação", "CVF"})
        r.tableStarted(t);
    r.rowCopied();
    EXPECT_EQ(r.line({}, t0 + 1250ms), QStringLiteral("atualizavela-movel: 4 tabelas, 1 linha em 1,3 s; concluído"));
    r.syncEnded(t0 + 25100ms);
    r.uploadBegan(t0 + 26s);
    r.bytesSent(65536); // the counts are of the whole transfer so far, not added up
    r.bytesSent(164836557);
    EXPECT_EQ(r.line(QStringLiteral("Dynamic SQL Error\n-Table unknown"), t0 + 29400ms),
              QStringLiteral("atualizavela-movel: 4 tabelas, 1 linha em 25,1 s; enviado 157,2 MB em 3,4 s; "
                             "falhou: Dynamic SQL Error -Table unknown"));
    EXPECT_EQ(byteSize(512), QStringLiteral("512 B"));
}
