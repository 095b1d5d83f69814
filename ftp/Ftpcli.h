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
#include <optional>

namespace quelmark {

class TFtpClient : public QWidget {
    Q_OBJECT
public:
    using TFtpDisplay = std::function<void(QObject *sender, QString &msg)>;
    // count is the number of the file's bytes the server has taken so far.
    using TFtpProgress = std::function<void(QObject *sender, std::int64_t count, bool &abort)>;

    explicit TFtpClient(QWidget *parent = nullptr);
    ~TFtpClient() override;

    // Runs a whole session: login, optional CWD, TYPE, PORT, STOR with the file's bytes, QUIT.
    // Returns true only when the server took every byte of the file and confirmed it with 226
    // or 250; shows "Done" or "Failed" last. A socket failure outside the connect step leaves
    // as ESocketException, with both connections and the local file closed.
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
    // Sends one command line, which ends in CR LF, after showing it without the CR LF (and
    // without the password).
    void SendCommand(const QString &line);
    // Reads one reply, following RFC 959 continuation lines, and returns its code. A line that the
    // countdown cut short ends the reply; a reply that does not end within TimeOut ticks of its
    // first line or within 1000 lines fails the step and closes the control connection.
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
        Draining,           // end of file: the sending side is shut, the server takes the rest
        Done,               // the server took every byte and the connection is over
        Broken,             // the connection ended early or was broken off
    };
    class TDataStepEnd;

    bool CheckCommandTexts();
    bool CheckLocalFile();
    void RefuseLocalFile();
    bool ConnectControl();
    bool ReadReplyLine(std::int32_t ticks);
    std::int32_t ReadRestOfReply(const QString &opening);
    std::int32_t FailReply(const QString &text);
    void ListenForData();
    bool OpenLocalFile();
    bool AnnouncePort();
    void StartSending();
    bool WaitForDataEnd();
    void DataTimedOut();
    bool ConfirmStored();
    void DiscardIncoming();
    void MeasureTaken();
    void FailData(const QString &text);
    void FailClosedEarly();
    bool DataStepOver() const { return m_dataState == TDataState::Done || m_dataState == TDataState::Broken; }
    void SetError(const QString &text);
    void SetErrorFromReply();
    void EndDataStep();
    void CleanUpAfterException() noexcept;
    std::int32_t EffectiveTimeOut() const { return m_timeOut > 0 ? m_timeOut : 15; }
    std::int64_t TickMs() const { return m_wait ? m_wait->Interval() : 1000; }

    TWSocket *m_controlSocket = nullptr;
    TWSocket *m_dataSocket = nullptr;
    // Set when this store step's data connection opened.
    std::optional<std::uint32_t> m_startTick;
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
    // Bytes of the file the server has acknowledged, and the file's size when it was opened.
    std::int64_t m_takenBytes = 0;
    std::int64_t m_fileSize = 0;
    bool m_running = false;
    // A QUIT of this session was answered: a closed connection after it is no failure.
    bool m_quitAnswered = false;
    TDataState m_dataState = TDataState::Idle;
    // Set by a failure of the data step that leaves the control connection out of step: the
    // step's end closes it instead of leaving it for QUIT.
    bool m_dropControl = false;
    // An exception raised by a handler while the data step ended, rethrown by Put.
    std::exception_ptr m_endError;
};

} // namespace quelmark
