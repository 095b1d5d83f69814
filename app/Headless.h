// The program without a window: --push-all, --dry-run and --service.
//
// THeadlessHost builds the same engine as the window through engine/Engine, on the store's values
// (engine/StoreSites.h) instead of the window's controls; it makes no widget, so it runs on a
// QCoreApplication without any display. A run that finds the store held by the window or the
// service hands its command over (app/Handover.h) instead of running it here.
#pragma once

#include "app/CommandLine.h"
#include "app/CommandRuns.h"
#include "app/Handover.h"
#include "catalogue/StoreLock.h"
#include "engine/StoreSites.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace quelmark {

class TAddressSource;
class TEngine;
class TFtpClient;
class TWait;

class THeadlessHost : public QObject, public THolder {
    Q_OBJECT
public:
    explicit THeadlessHost(QObject *parent = nullptr);
    ~THeadlessHost() override;

    TEngine &Engine() { return *m_engine; }
    TStoreSites &Sites() { return m_sites; }

    // Reads the general options from the store.
    void LoadOptions();
    // Takes up the store's sites as the window's first showing does, which also writes the
    // general options back.
    void LoadSites();

    TBusy Busy() const override;
    int Run(const TRunRequest &request, TRunOutput &output) override;
    bool Release(std::function<void()> released) override;
    // What Release does: a service steps aside; any other run refuses.
    std::function<bool(std::function<void()>)> OnRelease;

private:
    TStoreSites m_sites;
    TFtpClient *m_ftpClient = nullptr;
    TWait *m_waitControl = nullptr;
    TAddressSource *m_addressSource = nullptr;
    std::unique_ptr<TEngine> m_engine;
};

// The refresh cycle without a window, holding the store: it takes the store's lock (and waits
// while a window or a push from the command line holds it), checks once at start and then every
// "Test local files every (mins):" minutes, reading the options and the sites afresh before each
// check, and prints every log line to standard output. It steps aside while a window is open
// and goes on when the window closes.
class TService : public QObject {
    Q_OBJECT
public:
    TService(THeadlessHost &host, const QString &storePath, QObject *parent = nullptr);
    ~TService() override;

    // Takes the store or starts waiting for it. Returns 2, after printing "The settings store is
    // in use by process <pid>", when another service holds it; nothing when running.
    std::optional<int> Start();
    // Ends within moments: a running upload is cancelled, the options are saved and the store is
    // let go; then OnEnded runs with the exit status.
    void End();
    std::function<void(int status)> OnEnded;

    // True while this service holds the store (not while it waits for a window to close).
    bool Holding() const { return m_state == TState::Holding; }

    // How often a waiting service tries to take the store.
    int RetryMs = 1000;

private:
    enum class TState { Idle, Waiting, Holding, Releasing, Ending };

    void TryHold();
    void Hold();
    void FirstCheck();
    bool ReleaseForWindow(std::function<void()> released);
    void WhenIdle(std::function<void()> then);
    void LetGo(const QString &why);
    void Refuse(const TStoreHolder &holder);

    // Prints every log line on standard output.
    class TPrinter : public TEngineObserver {
    public:
        void LogLine(const QString &line) override;
    };

    THeadlessHost &m_host;
    TPrinter m_printer;
    QString m_storePath;
    TStoreLock m_lock;
    THandoverServer m_server;
    QTimer m_retry;
    TState m_state = TState::Idle;
    bool m_started = false;
};

// Runs the mode the command line asks for without a window and returns its exit status.
int RunHeadless(const TCommandLine &line);

} // namespace quelmark
