// Reading a remote file's mode from the replies of real servers, and the argument of SITE CHMOD.
#include "ftp/FileModes.h"

#include <gtest/gtest.h>

using namespace quelmark;

namespace {

TEST(FileModes, MlstGivesTheModeOfAFileOnly)
{
    const struct {
        const char *what;
        QStringList reply;
        std::optional<std::uint32_t> mode;
    } rows[] = {
        {"ProFTPD",
         {"250-Start of list for page.html",
          " modify=20261208085622;perm=adfrw;size=6;type=file;UNIX.group=1001;UNIX.mode=0750;UNIX.owner=1001; "
          "/page.html",
          "250 End of list"},
         0750},
        {"Pure-FTPd",
         {"250-Begin", " type=file;size=4;modify=20261208085702;UNIX.mode=0644;UNIX.uid=1001; page.html", "250 End."},
         0644},
        {"facts in lower case, setgid", {"250-", " type=file;unix.mode=2755; a b.html", "250 End"}, 02755},
        {"no mode fact (pyftpdlib)", {"250-", " type=file;perm=r;size=9; page.html", "250 End"}, std::nullopt},
        {"a folder", {"250-", " type=dir;UNIX.mode=0755; www", "250 End"}, std::nullopt},
        {"not octal", {"250-", " type=file;UNIX.mode=0789; page.html", "250 End"}, std::nullopt},
        {"too many digits", {"250-", " type=file;UNIX.mode=100644; page.html", "250 End"}, std::nullopt},
        {"single-line reply", {"250 page.html listed"}, std::nullopt},
    };
    for (const auto &row : rows)
        EXPECT_EQ(MlstFileMode(row.reply), row.mode) << row.what;
}

TEST(FileModes, ListingGivesTheModeOfTheNamedRegularFile)
{
    const struct {
        const char *what;
        QStringList reply;
        QString name;
        std::optional<std::uint32_t> mode;
    } rows[] = {
        {"vsftpd",
         {"213-Status follows:", "-rwxr-x---    1 1001     1001            4 Dec 08 08:58 page.html",
          "213 End of status"},
         "page.html",
         0750},
        {"ProFTPD, indented, a name in a folder",
         {"213-Status of www/page.html:", " -rw-r-----   1 quelmarkftp quelmarkftp        6 Dec  8 08:56 page.html",
          "213 End of status"},
         "www/page.html",
         0640},
        {"a name with blanks",
         {"213-", "-rw-rw-r-- 1 1 1 4 Dec 08 08:58 my page.html", "213 End"},
         "my page.html",
         0664},
        {"setuid, setgid and sticky",
         {"213-", "-rwsr-Sr-t 1 1 1 4 Dec 08 08:58 page.html", "213 End"},
         "page.html",
         07745},
        {"an ACL mark after the letters",
         {"213-", "-rw-r--r--+ 1 1 1 4 Dec 08 08:58 page.html", "213 End"},
         "page.html",
         0644},
        {"no such file", {"213-Status follows:", "213 End of status"}, "page.html", std::nullopt},
        {"a link", {"213-", "lrwxrwxrwx 1 1 1 4 Dec 08 08:58 page.html -> x", "213 End"}, "page.html", std::nullopt},
        {"another file", {"213-", "-rw-r--r-- 1 1 1 4 Dec 08 08:58 other.html", "213 End"}, "page.html", std::nullopt},
        {"a pattern that listed two",
         {"213-", "-rw-r--r-- 1 1 1 4 Dec 08 08:58 page.html", "-rwx------ 1 1 1 4 Dec 08 08:58 x page.html",
          "213 End"},
         "page.html",
         std::nullopt},
        {"letters that are no mode",
         {"213-", "-rwxr-x-q- 1 1 1 4 Dec 08 08:58 page.html", "213 End"},
         "page.html",
         std::nullopt},
    };
    for (const auto &row : rows)
        EXPECT_EQ(ListingFileMode(row.reply, row.name), row.mode) << row.what;
}

} // namespace
