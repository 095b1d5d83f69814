// One main for every test program: a QApplication exists for the whole run, headless unless
// the caller chose a platform, and away from the desktop session's keyring.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The tests' passwords must not land in the keyring of a developer who runs them on a desktop,
    // neither from here nor from the programs they start: a bus address that leads nowhere keeps
    // the session's bus, named or found in the runtime folder, out of reach. Tests of the keyring
    // start a session of their own.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quelmark-tests-have-no-session-bus");
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Varnholt"));
    QApplication::setApplicationName(QStringLiteral("Quelmark"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
