// Starts the real program the way a user would, headless, and looks at what it leaves in the
// store.
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

// Counts the general options in a store file with the sqlite3 command; 0 while the file or
// its tables do not exist yet.
int StoredOptionCount(const QString &file)
{
    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"), {QStringLiteral("-readonly"), file, QStringLiteral(R"(
        SELECT count(*) FROM vals v JOIN keys o ON o.id = v.key AND o.name = 'General Options'
        JOIN keys q ON q.id = o.parent AND q.name = 'Quelmark'
        JOIN keys n ON n.id = q.parent AND n.name = 'Varnholt'
        JOIN keys s ON s.id = n.parent AND s.name = 'Software';)")});
    if (!sqlite.waitForFinished(5000) || sqlite.exitCode() != 0)
        return 0;
    return sqlite.readAllStandardOutput().trimmed().toInt();
}

TEST(Startup, FirstStartWritesTheGeneralOptionsWithinTwoSeconds)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    const QString storeFile = home.filePath(QStringLiteral("config/Varnholt/Quelmark/store.db"));

    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(QUELMARK_BINARY_DIR "/quelmark"), {});
    ASSERT_TRUE(program.waitForStarted(5000)) << program.errorString().toStdString();

    QElapsedTimer clock;
    clock.start();
    int count = 0;
    while ((count = StoredOptionCount(storeFile)) < 19 && clock.elapsed() < 2000 &&
           program.state() == QProcess::Running)
        QThread::msleep(50);
    const bool stillRunning = program.state() == QProcess::Running;

    program.terminate();
    if (!program.waitForFinished(5000)) {
        program.kill();
        program.waitForFinished(5000);
    }
    EXPECT_TRUE(stillRunning) << "the program ended by itself: " << program.readAllStandardError().toStdString();
    EXPECT_EQ(count, 19) << "the nine options, Close to tray, the five address options, One FTP session per site, "
                            "Push changes at once, Command on a new address and the keyring";
}

} // namespace
