// The main window, its gauge and its run log, offscreen.
#include "app/Gauge.h"
#include "app/RunLog.h"
#include "app/principal.h"
#include "common/Error.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace vela;

namespace {

QApplication& app() {
    static int argc = 1;
    static char name[] = "test_window";
    static char* argv[] = {name, nullptr};
    static QApplication* a = new QApplication(argc, argv);
    return *a;
}

AppSettings settings() {
    AppSettings s;
    s.mobileFolder = QStringLiteral("/srv/movel");
    s.sourceDatabase = QStringLiteral("/srv/dados/BANCODADOS.FDB");
    return s;
}

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
    // A batch longer than the box keeps goes mostly straight to the saved text.
    for (int i = 0; i < 12000; ++i) {
        std::string line = "Sincronizando Item: \xa0" + std::to_string(i);
        log.appendCp1252(line);
        expected += line + "\r\n";
    }
    log.append(QStringLiteral("two\nlines"));
    expected += "two\r\nlines\r\n";
    log.flush();
    EXPECT_LE(memo.document()->blockCount(), 10000);
    EXPECT_EQ(log.fileContent(), expected + "\r\n");
}
