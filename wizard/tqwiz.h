#pragma once

#include <QAtomicInt>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QWizard>
#include <QWizardPage>

#include <cstdint>
#include <string>

class QLabel;
class QTextEdit;

/// The wizard's own version, shown in its texts and compared with the installed agent's.
extern const QString szVersion;

/// Reads the configuration carried in the user-data trailer at the end of the file at path.
/// Appends it to configuration, sets dataLength and appends progress and error lines to messages.
bool ParseData(const char *path, std::string &configuration, int32_t &dataLength, QStringList &messages);

/// The setup window: the existing-installation check, then the welcome and install pages.
class tqwiz : public QWizard
{
    Q_OBJECT

public:
    enum { Page_Intro = 0, Page_Install = 2 };
    explicit tqwiz(QWidget *parent = nullptr);

    void done(int result) override;

    /// Asks the installed agent's tool for its version; true when the user declines to go on.
    bool installCheck();

    bool installSucceeded;
    /// The process's exit status: 0, or the code of a failed installation attempt.
    int exitStatus;

private slots:
    void showHelp();
    void currentIdChanged(int id);
};

/// Welcome page.
class IntroPage : public QWizardPage
{
    Q_OBJECT

public:
    explicit IntroPage(QWidget *parent = nullptr);

    void initializePage() override;
    int nextId() const override;
};

class InstallWorker;

/// Stages the configuration, runs the install worker and shows its output and result.
class InstallPage : public QWizardPage
{
    Q_OBJECT

public:
    explicit InstallPage(QWidget *parent = nullptr);

    void initializePage() override;
    int nextId() const override;

    /// True from the start of the worker until its thread has ended.
    bool isInstalling() const;
    /// Ends a wait for another package manager before anything was installed; false once
    /// the installation itself has started (it must then run to its end).
    bool stopWaiting();
    /// Tells the user why the wizard does not close yet.
    void showStillRunningNote();

private slots:
    void process_readData(const QStringList &ss);
    void process_finished(int retcode, const QStringList &ss);
    void process_waiting(const QString &what);

private:
    /// False, with the page in its failed state, when a dependency of the package is missing.
    bool dependenciesMet();
    /// Adds entry to the output view as a paragraph of its own.
    void appendEntry(const QString &entry);

    QLabel *label;
    QTextEdit *outputView;
    InstallWorker *worker;
    bool workerStarted;
    int shownEntries; ///< entries of the worker's list already in outputView
};

/// Installs the native package through pkexec on its own thread; reports only through its signals.
class InstallWorker : public QThread
{
    Q_OBJECT

public:
    explicit InstallWorker(QObject *parent);
    ~InstallWorker() override;

    /// Called from the GUI thread: the worker ends without installing, if it has not yet
    /// started the package manager. True when it will.
    bool cancelBeforeInstalling();

signals:
    void dataRead(const QStringList &ss);
    void finished(int retcode, const QStringList &ss);
    /// What the worker waits for before it can install ("Waiting for ..."), empty once it no longer does.
    void waiting(const QString &what);

protected:
    void run() override;

private:
    /// Waits while another package manager holds dpkg's locks; false when the wait ended
    /// without them (cancelled, or too long: then reported with finished).
    bool waitForPackageManager(QStringList &ss);

    enum Stage { Preparing, Installing, Cancelled };
    QAtomicInt stage; ///< the one value both threads touch: who gets to decide first

    QString program;
    QStringList arguments;
};
