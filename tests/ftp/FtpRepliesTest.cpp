#include "publish/FtpReplies.h"

#include <gtest/gtest.h>

namespace vela {
namespace {

TEST(FtpReplies, KeepsTheLastReplyToTheLastCommand) {
    FtpReplies r;
    r.received("220 ready.\r\n");
    EXPECT_TRUE(r.answered());
    r.commandSent("USER tarquimsistemas\r\n");
    EXPECT_EQ(r.lastCommand(), "USER");
    EXPECT_FALSE(r.answered());
    r.received("331 Send password.\r\n");
    EXPECT_EQ(r.code(), 331);
    EXPECT_EQ(r.text(), "331 Send password.");
    EXPECT_FALSE(r.refusal());
}

TEST(FtpReplies, KeepsOnlyTheVerbOfACommand) {
    FtpReplies r;
    r.commandSent("PASS 582716\r\n");
    EXPECT_EQ(r.lastCommand(), "PASS");
    r.commandSent("quit\r\n");
    EXPECT_EQ(r.lastCommand(), "QUIT");
}

TEST(FtpReplies, JoinsTheLinesOfAMultiLineReply) {
    FtpReplies r;
    r.commandSent("PASS x\r\n");
    r.received("530-Login incorrect.\r\n");
    EXPECT_FALSE(r.answered());
    r.received(" see the admin\r\n530 Bye.\r\n");
    EXPECT_EQ(r.code(), 530);
    EXPECT_EQ(r.text(), "530-Login incorrect.\n see the admin\n530 Bye.");
    EXPECT_EQ(r.refusal(), r.text());
}

TEST(FtpReplies, ARefusalSurvivesTheQuitThatFollowsIt) {
    FtpReplies r;
    r.commandSent("STOR /x\r\n");
    r.received("550 No such file or directory.\r\n");
    r.commandSent("QUIT\r\n");
    r.received("221 Goodbye.\r\n");
    EXPECT_EQ(r.refusal(), "550 No such file or directory.");
}

TEST(FtpReplies, ARefusalThatCurlGotPastIsForgotten) {
    FtpReplies r;
    r.commandSent("EPSV\r\n");
    r.received("500 Unknown command.\r\n");
    r.commandSent("PASV\r\n");
    r.received("227 Entering passive mode (127,0,0,1,4,1).\r\n");
    EXPECT_FALSE(r.refusal());
}

TEST(FtpReplies, IgnoresLinesThatAreNoReply) {
    FtpReplies r;
    r.commandSent("NOOP\r\n");
    r.received("Content-Length: 12\r\n");
    EXPECT_FALSE(r.answered());
    r.received("200 OK");
    EXPECT_EQ(r.code(), 200);
}

} // namespace
} // namespace vela
