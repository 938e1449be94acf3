#include "publish/FtpUrl.h"

#include <gtest/gtest.h>

namespace vela {
namespace {

TEST(FtpUrl, EncodesTheLeadingSlashSoThePathStaysAbsolute) {
    EXPECT_EQ(ftpUrl("ftp.example.org", 21, "/www/downloads/CasadoNo/BANCODADOS.gdb"),
              "ftp://ftp.example.org:21/%2Fwww/downloads/CasadoNo/BANCODADOS.gdb");
    EXPECT_EQ(ftpUrl("127.0.0.1", 2121, "/"), "ftp://127.0.0.1:2121/%2F");
}

TEST(FtpUrl, KeepsDoubledSlashes) {
    EXPECT_EQ(ftpUrl("h", 21, "/www/downloads//BANCODADOS.gdb"), "ftp://h:21/%2Fwww/downloads//BANCODADOS.gdb");
}

TEST(FtpUrl, PercentEncodesEverythingElse) {
    EXPECT_EQ(ftpUrl("h", 21, "/a b;type=a%#?"), "ftp://h:21/%2Fa%20b%3Btype%3Da%25%23%3F");
    EXPECT_EQ(ftpUrl("h", 21, "/Açaí"), "ftp://h:21/%2FA%C3%A7a%C3%AD");
    EXPECT_EQ(ftpUrl("h", 21, "/-._~"), "ftp://h:21/%2F-._~");
}

TEST(FtpUrl, LeavesARelativePathRelative) {
    EXPECT_EQ(ftpUrl("h", 21, "a/b"), "ftp://h:21/a/b");
}

} // namespace
} // namespace vela
