#include "publish/RemotePath.h"
#include "common/Cp1252.h"
#include "common/Error.h"

#include <gtest/gtest.h>
#include <string>

namespace vela {
namespace {

TEST(RemotePath, TakesTenCharactersAndDropsTheirBlanks) {
    EXPECT_EQ(remotePath("Casa do Norte Comercial"), "/www/downloads/CasadoNo/BANCODADOS.gdb");
}

TEST(RemotePath, CutsBeforeTrimming) {
    EXPECT_EQ(remotePath("  Loja Azul Ltda"), "/www/downloads/LojaAzu/BANCODADOS.gdb");
}

TEST(RemotePath, KeepsAShortNameWhole) {
    EXPECT_EQ(remotePath("Bela"), "/www/downloads/Bela/BANCODADOS.gdb");
}

TEST(RemotePath, AnEmptyOrBlankNameLeavesTwoSlashes) {
    EXPECT_EQ(remotePath(""), "/www/downloads//BANCODADOS.gdb");
    EXPECT_EQ(remotePath("    "), "/www/downloads//BANCODADOS.gdb");
    EXPECT_EQ(remotePath("\t\r\n "), "/www/downloads//BANCODADOS.gdb");
}

TEST(RemotePath, TrimsControlCharactersAtBothEndsOnly) {
    EXPECT_EQ(remoteFolder("\t\x01"
                           "Bela\r\n"),
              "Bela");
    EXPECT_EQ(remoteFolder("Be\tla"), "Be\tla");
}

TEST(RemotePath, KeepsLetterCaseAndPunctuation) {
    EXPECT_EQ(remoteFolder("ABC-def.G & H"), "ABC-def.G");
}

TEST(RemotePath, CountsWindows1252CharactersAndConvertsThemToUtf8) {
    // "Ótica São João" in Windows-1252: ten bytes are "Ótica São ".
    EXPECT_EQ(remoteFolder("\xD3tica S\xE3o Jo\xE3o"), "ÓticaSão");
    EXPECT_EQ(remotePath("A\xE7"
                         "a\xED Doces"),
              "/www/downloads/AçaíDoces/BANCODADOS.gdb");
    EXPECT_EQ(remoteFolder("\x80uro\x99"), "€uro™");
}

TEST(Windows1252, ConvertsEveryByte) {
    EXPECT_EQ(cp1252::toUtf8("abc"), "abc");
    EXPECT_EQ(cp1252::toUtf8("\xA0\xFF\xE9"), "\u00A0ÿé");
    EXPECT_EQ(cp1252::toUtf8("\x80\x8A\x9F"), "€ŠŸ");
    EXPECT_EQ(cp1252::toUtf8("\x81\x9D"), "\u0081\u009D");
    EXPECT_EQ(cp1252::toUtf8(std::string("\0", 1)), std::string("\0", 1));
}

void expectRefused(const std::string& tradeName, const std::string& folder) {
    try {
        checkRemoteFolder(tradeName);
        ADD_FAILURE() << "accepted: " << tradeName;
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Pasta remota inválida: " + folder);
    }
}

TEST(RemoteFolderCheck, RefusesFoldersThatLeaveTheDownloads) {
    expectRefused("../etc", "../etc");
    expectRefused("a/b", "a/b");
    expectRefused("a\\b", "a\\b");
    expectRefused("..", "..");
    expectRefused(" . ", ".");
    expectRefused(". .", "..");
    expectRefused("  ..  ", "..");
}

TEST(RemoteFolderCheck, RefusesControlCharactersInside) {
    expectRefused("Be\tla", "Be\tla");
    expectRefused("Be\x7Fla", "Be\x7Fla");
    expectRefused("Be\x81la", "Be\u0081la");
    // what() ends at the zero byte; the message up to there is what anyone will see.
    expectRefused(std::string("Be\0la", 5), "Be");
}

TEST(RemoteFolderCheck, AcceptsOrdinaryFoldersButNoEmptyOne) {
    // A blank trade name would publish to /www/downloads/BANCODADOS.gdb, where no device looks.
    for (const char* name : {"", "   "})
        EXPECT_THROW(checkRemoteFolder(name), Error) << name;
    for (const char* name : {"Casa do Norte Comercial", "  Loja Azul Ltda", "Bela", "...", ".a",
                             "A\xE7"
                             "a\xED Doces",
                             "Na\xEFve.", "Dots..after/ten"})
        EXPECT_NO_THROW(checkRemoteFolder(name)) << name;
}

} // namespace
} // namespace vela
