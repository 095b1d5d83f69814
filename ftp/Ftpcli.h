// TFtpClient: uploads one local file to an FTP server per call of Put.
//
// Speaks the control side of FTP (RFC 959) over one event-driven socket and moves the file over
// a second one in active mode: the client listens, announces the port with PORT and the server
// connects for STOR. Only whole-file uploads exist. Every wait is bounded by the TWait countdown
// the client hands to its sockets; while a wait runs the application's events keep being
// dispatched. What the client does is reported as display lines through OnDisplay, the file's
// progress through OnProgress, and the outcome as Put's result with the first failure's text in
// ErrorMessage.
#pragma once

#include "ftp/Wait.h"
#include "net/UniqueFd.h"
#include "net/WSocket.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <exception>
#include <functional>

namespace quelmark {

class TFtpClient : public QWidget {
    Q_OBJECT
public:
    using TFtpDisplay = std::function<void(QObject *sender, QString &msg)>;
    using TFtpProgress = std::function<void(QObject *sender, std::int64_t count, bool &abort)>;

    explicit TFtpClient(QWidget *parent = nullptr);
    ~TFtpClient() override;

    // Runs a whole session: login, optional CWD, TYPE, PORT, STOR with the file's bytes, QUIT.
    // Returns true only when the server confirmed the stored file with 226; shows "Done" or
    // "Failed" last. A socket failure outside the connect step leaves as ESocketException, with
    // both connections and the local file closed.
    bool Put();

    TFtpDisplay OnDisplay;
    TFtpProgress OnProgress;

    QString HostName() const { return m_hostName; }
    void SetHostName(const QString &v) { m_hostName = v; }
    // Port or service name of the control connection; "ftp" unless set.
    QString Port() const { return m_port; }
    void SetPort(const QString &v) { m_port = v; }
    QString UserName() const { return m_userName; }
    void SetUserName(const QString &v) { m_userName = v; }
    QString PassWord() const { return m_passWord; }
    void SetPassWord(const QString &v) { m_passWord = v; }
    QString HostDirName() const { return m_hostDirName; }
    void SetHostDirName(const QString &v) { m_hostDirName = v; }
    QString HostFileName() const { return m_hostFileName; }
    void SetHostFileName(const QString &v) { m_hostFileName = v; }
    QString LocalFileName() const { return m_localFileName; }
    void SetLocalFileName(const QString &v) { m_localFileName = v; }
    bool DisplayFlag() const { return m_displayFlag; }
    void SetDisplayFlag(bool v) { m_displayFlag = v; }
    bool Binary() const { return m_typeLetter == 'I'; }
    void SetBinary(bool v) { m_typeLetter = v ? 'I' : 'A'; }
    TWait *Wait() const { return m_wait; }
    // Stores the countdown (not owned) and hands it to both sockets.
    void SetWait(TWait *wait);
    std::int32_t TimeOut() const { return m_timeOut; }
    void SetTimeOut(std::int32_t ticks) { m_timeOut = ticks; }
    QString ErrorMessage() const { return m_errorMessage; }

    bool LoggedIn() const { return m_loggedIn; }
    QString LastResponse() const { return m_lastResponse; }
    std::int64_t TotalBytes() const { return m_totalBytes; }
    bool LocalFileOpen() const { return m_file.Valid(); }
    const TWSocket &ControlSocket() const { return *m_controlSocket; }
    const TWSocket &DataSocket() const { return *m_dataSocket; }

protected:
    bool Login();
    bool ChangeHostDir();
    bool SendType();
    bool Store();
    bool Finish();
    bool Quit();
    // Sends one command line, which ends in CR LF, after showing it without the CR LF.
    void SendCommand(const QString &line);
    // Reads one reply, following RFC 959 continuation lines, and returns its code. A line that the
    // countdown cut short ends the reply.
    std::int32_t GetResponse();
    std::int32_t SendPort(std::uint16_t port);
    void DataSessionAvailable(QObject *sender, std::uint16_t error);
    void SendNextBlock(QObject *sender, std::uint16_t error);
    bool TriggerProgress();
    void DataSessionClosed(QObject *sender, std::uint16_t error);
    void Display(const QString &text);

private:
    // Where the data connection of one store step stands.
    enum class TDataState : std::uint8_t {
        Idle,               // no store step has set it up yet
        Listening,          // waiting for the server's connection; STOR not sent yet
        AwaitingConnection, // STOR sent; the server has not connected yet
        OpenedEarly,        // the server connected before STOR; the bytes wait for it
        Sending,            // the file's blocks go out
        Closed,             // the data connection is over
    };
    class TDataStepEnd;

    bool CheckCommandTexts();
    bool ConnectControl();
    void ListenForData();
    bool OpenLocalFile();
    bool AnnouncePort();
    void StartSending();
    bool WaitForDataEnd();
    bool ConfirmStored();
    void SetError(const QString &text);
    void SetErrorFromReply();
    void EndDataStep();
    void CleanUpAfterException() noexcept;
    std::int32_t EffectiveTimeOut() const { return m_timeOut > 0 ? m_timeOut : 15; }

    TWSocket *m_controlSocket = nullptr;
    TWSocket *m_dataSocket = nullptr;
    std::uint32_t m_startTick = 0;
    std::uint32_t m_stopTick = 0;
    QString m_hostName;
    QString m_port = QStringLiteral("ftp");
    QString m_userName;
    QString m_passWord;
    QString m_localFileName;
    QString m_hostFileName;
    QString m_hostDirName;
    bool m_displayFlag = false;
    char m_typeLetter = 'I';
    UniqueFd m_file;
    QPointer<TWait> m_wait;
    std::int32_t m_timeOut = 15;
    QString m_lastResponse;
    // ErrorMessage as callers see it, and the text of the session's own first failure; they
    // differ only while a refused nested Put has put its refusal into ErrorMessage.
    QString m_errorMessage;
    QString m_sessionError;
    bool m_loggedIn = false;
    std::array<char, 1024> m_block{};
    std::int64_t m_totalBytes = 0;
    bool m_running = false;
    TDataState m_dataState = TDataState::Idle;
    // Set by a failure of the data step that leaves the control connection out of step: the
    // step's end closes it instead of leaving it for QUIT.
    bool m_dropControl = false;
    // An exception raised by a handler while the data step ended, rethrown by Put.
    std::exception_ptr m_endError;
};

} // namespace quelmark
