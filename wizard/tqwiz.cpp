#include "tqwiz.h"

#include "config_staging.h"
#include "exit_statuses.h"
#include "lock_holders.h"
#include "package_dependencies.h"
#include "package_manager_text.h"
#include "shared_names.h"
#include "userdata.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QFile>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QProcess>
#include <QSpacerItem>
#include <QTextEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>

// Made before main from a short constant: an allocation that fails there has nothing to save.
const QString szVersion = QString::fromLatin1(kAgentVersion); // NOLINT(cert-err58-cpp)

namespace {

const char kPkexecPath[] = "/usr/bin/pkexec";
const char kRpmPath[] = "/usr/bin/rpm";
const char kDebianMarker[] = "buntu";
const char kCliProgram[] = "kirra-cli";
const char kAgentProgram[] = "morrowlin-tesserak";
const char kSelfTestLine[] = "EC_generateKey_FIPS_consistancy_test: GOOD Signature Verify!";
const char kAbortedTitle[] = "Installation Aborted.";
const char kWatermark[] = ":/res/watermark.png";
constexpr int kStartTimeoutMs = 30000;
constexpr int kCheckFinishTimeoutMs = 30000;
// Longer words are broken anywhere in the output view: far wider than any view, far longer
// than any word of a package manager's messages.
constexpr int kLongestWordWrapped = 1000;
// How soon a released package manager lock is noticed.
constexpr unsigned long kLockPollMs = 200;
constexpr int kCheckSpacerWidth = 400;
// Wide enough for the welcome title in common fonts; the height follows the watermark.
constexpr int kMinimumWindowWidth = 640;
// Enough for any version text; a tool that prints megabytes must not keep the question from showing.
constexpr int kShownCheckOutput = 2000;
constexpr char kUserDataIdentifier[] = "USER_DATA";
constexpr uint16_t kConfigSection = 0;
constexpr uint16_t kConfigMarkerElement = 0;
constexpr uint16_t kConfigTextElement = 1;

struct FileCloser {
    void operator()(FILE *file) const { fclose(file); }
};

/// Output bytes as text, ending at the first NUL byte as the tools' C strings would.
QString textUpToNul(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes.constData(), int(qstrnlen(bytes.constData(), uint(bytes.size()))));
}

/// Replaces the staged configuration with an owner-only copy of source, refusing what the
/// launcher refuses too; empty, or why it could not be done.
QString stageConfiguration(const QString &source, const QString &staged)
{
    // Run as root (from a root terminal), another user's file is not taken; as the desktop
    // user, the file is the user's own to choose.
    const TrustedOwners trusted = trusted_owners(uid_t(-1));
    const ConfigFile config
        = open_configuration(QFile::encodeName(source).constData(), geteuid() == 0 ? &trusted : nullptr);
    switch (config.refusal) {
    case ConfigRefusal::None:
        break;
    case ConfigRefusal::CannotOpen:
        return QString::fromLocal8Bit(strerror(config.error));
    case ConfigRefusal::NotRegularFile:
        return QStringLiteral("it is not a regular file");
    case ConfigRefusal::WritableByOthers:
        return QStringLiteral("others than its owner may write it");
    case ConfigRefusal::UntrustedOwner:
        return QStringLiteral("it is owned by another user");
    case ConfigRefusal::UntrustedDirectory:
        return QStringLiteral("other users may write to its directory");
    }
    // Copied from the very file checked, into a new owner-only file renamed into place.
    const int error = stage_configuration(config.fd, QFile::encodeName(staged).constData());
    close(config.fd);
    return error == 0 ? QString() : QString::fromLocal8Bit(strerror(error));
}

/// The length of the longest run of text without a blank or a line break.
int longestWord(const QString &text)
{
    int longest = 0;
    int current = 0;
    for (const QChar c : text) {
        current = c.isSpace() ? 0 : current + 1;
        longest = std::max(longest, current);
    }
    return longest;
}

/// At most limit characters of text, marked where it was cut.
QString shortened(const QString &text, int limit)
{
    return text.size() <= limit ? text : text.left(limit) + QStringLiteral(" ...");
}

} // namespace

// ---------------------------------------------------------------------------
// User-data trailer

bool ParseData(const char *path, std::string &configuration, int32_t &dataLength, QStringList &messages)
{
    std::string trailer;
    CUserData userData;

    const std::unique_ptr<FILE, FileCloser> file(fopen(path, "rb"));
    if (!file) {
        messages << QStringLiteral("\nFile not found");
        return false;
    }
    if (fseek(file.get(), -4, SEEK_END) != 0) {
        messages << QStringLiteral("\nSeek failed for data length");
        return false;
    }
    unsigned char lengthBytes[4] = {0, 0, 0, 0};
    // Bytes that do not arrive count as zero.
    (void)fread(lengthBytes, 1, sizeof lengthBytes, file.get());
    const uint32_t length = uint32_t(lengthBytes[0]) | uint32_t(lengthBytes[1]) << 8 | uint32_t(lengthBytes[2]) << 16
                            | uint32_t(lengthBytes[3]) << 24;
    messages << QStringLiteral("\nDebian data length :%1").arg(length);
    if (length == 0) {
        messages << QStringLiteral("\nInvalid value of Deb data length value - %1").arg(length);
        return false;
    }
    dataLength = int32_t(length);
    if (fseek(file.get(), -long(length), SEEK_END) != 0) {
        messages << QStringLiteral("\nSeek failed for reading the deb file");
        return false;
    }
    messages << QStringLiteral("\nReading deb file");

    // Checked before a claimed length of up to 4 GiB is allocated.
    char identifier[sizeof kUserDataIdentifier - 1] = {};
    const size_t identifierRead = fread(identifier, 1, std::min<size_t>(sizeof identifier, length), file.get());
    if (identifierRead != sizeof identifier || memcmp(identifier, kUserDataIdentifier, sizeof identifier) != 0) {
        messages << QStringLiteral("\nHeader Identified not found in data");
        return false;
    }
    trailer.assign(identifier, sizeof identifier);
    trailer.resize(length);
    const size_t rest = length - sizeof identifier;
    if (fread(&trailer[sizeof identifier], 1, rest, file.get()) != rest) {
        messages << QStringLiteral("\nInvalid value of Deb data length value - %1").arg(length);
        return false;
    }
    if (!userData.Parse(reinterpret_cast<const unsigned char *>(trailer.data()), length)) {
        messages << QStringLiteral("Failed to parse the data");
        return false;
    }
    std::string().swap(trailer); // freed: the parsed elements hold what is needed

    const auto section = userData.m_sections.find(kConfigSection);
    if (section == userData.m_sections.end()
        || section->second.m_elements.find(kConfigMarkerElement) == section->second.m_elements.end()) {
        // Nothing to extract: reported as a failure, never as an empty configuration.
        messages << QStringLiteral("Invalid configuration data. Config section not found. ");
        return false;
    }
    const auto text = section->second.m_elements.find(kConfigTextElement);
    if (text != section->second.m_elements.end()) {
        if (configuration.empty())
            configuration.swap(text->second.m_data); // no second copy of a large configuration
        else
            configuration.append(text->second.m_data);
        dataLength = int32_t(text->second.m_length);
    }
    return true;
}

// ---------------------------------------------------------------------------
// tqwiz

tqwiz::tqwiz(QWidget *parent)
    : QWizard(parent)
    , installSucceeded(false)
    , exitStatus(0)
{
    if (installCheck())
        exit(0);

    setPage(Page_Intro, new IntroPage);
    setPage(Page_Install, new InstallPage);
    setStartId(Page_Intro);
    setWizardStyle(QWizard::ModernStyle);
    setOption(QWizard::HaveHelpButton, false);
    setPixmap(QWizard::LogoPixmap, QPixmap(":/res/logo.png"));
    setWindowTitle(QStringLiteral("Morrowlin Tesserak ") + szVersion + QStringLiteral(" Setup"));
    setWindowIcon(QIcon(":/res/icon_window.png"));
    setMinimumWidth(kMinimumWindowWidth);
    installSucceeded = false;
    connect(this, SIGNAL(currentIdChanged(int)), this, SLOT(currentIdChanged(int)));
}

void tqwiz::done(int result)
{
    // A running thread must not be destroyed, and dpkg must not be killed half way:
    // the window stays until the installation has ended.
    auto *installPage = qobject_cast<InstallPage *>(page(Page_Install));
    if (installPage && installPage->isInstalling() && !installPage->stopWaiting()) {
        installPage->showStillRunningNote();
        return;
    }
    if (installSucceeded)
        QProcess::startDetached(QString::fromLatin1(kAgentProgram), QStringList());
    QWizard::done(result);
}

bool tqwiz::installCheck()
{
    QProcess process(this);
    process.start(QString::fromLatin1(kCliProgram), QStringList() << QStringLiteral("-v"), QIODevice::ReadOnly);
    if (!process.waitForStarted(kStartTimeoutMs))
        return false;
    // A tool that never ends must not keep the wizard from appearing.
    if (!process.waitForFinished(kCheckFinishTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    QString output = textUpToNul(process.readAllStandardOutput());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return false;

    QMessageBox msgBox;
    if (output.contains(szVersion)) {
        msgBox.setWindowTitle(tr("Morrowlin Tesserak reinstall"));
        msgBox.setText(QStringLiteral("Do you want to reinstall the "));
    } else {
        msgBox.setWindowTitle(tr("Morrowlin Tesserak upgrade"));
        msgBox.setText(QStringLiteral("Do you want to upgrade from the existing"));
    }
    output.remove(QString::fromLatin1(kSelfTestLine));
    output.remove(QLatin1Char('\r'));
    output.remove(QLatin1Char('\n'));
    msgBox.setInformativeText(shortened(output, kShownCheckOutput));
    msgBox.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    msgBox.setDefaultButton(QMessageBox::Ok);
    msgBox.setIcon(QMessageBox::Warning);

    auto *spacer = new QSpacerItem(kCheckSpacerWidth, 0, QSizePolicy::Minimum, QSizePolicy::Expanding);
    auto *layout = static_cast<QGridLayout *>(msgBox.layout());
    layout->addItem(spacer, layout->rowCount(), 0, 1, layout->columnCount());

    if (msgBox.exec() == QMessageBox::Ok) {
        process.close();
        return false;
    }
    return true;
}

void tqwiz::showHelp() {}

void tqwiz::currentIdChanged(int id)
{
    if (id != Page_Install)
        return;
    if (!installSucceeded)
        button(QWizard::FinishButton)->hide();
    else
        button(QWizard::CancelButton)->hide();
    button(QWizard::BackButton)->hide();
}

// ---------------------------------------------------------------------------
// IntroPage

IntroPage::IntroPage(QWidget *parent)
    : QWizardPage(parent)
{
    setTitle(QStringLiteral("Welcome to the Quarvo Networks\nMorrowlin Tesserak ") + szVersion
             + QStringLiteral(" \nSetup Wizard"));
    setPixmap(QWizard::WatermarkPixmap, QPixmap(kWatermark));

    auto *label
        = new QLabel(QStringLiteral("This Setup Wizard will install Quarvo Networks Morrowlin Tesserak ") + szVersion
                     + QStringLiteral(" on your computer. Click Next to continue or Cancel to exit the "
                                      "Setup Wizard."));
    label->setWordWrap(true);

    auto *layout = new QVBoxLayout;
    layout->addWidget(label);
    setLayout(layout);
}

void IntroPage::initializePage() {}

int IntroPage::nextId() const
{
    return tqwiz::Page_Install;
}

// ---------------------------------------------------------------------------
// InstallPage

InstallPage::InstallPage(QWidget *parent)
    : QWizardPage(parent)
    , worker(nullptr)
    , workerStarted(false)
    , shownEntries(0)
{
    setTitle(QStringLiteral("Installing.."));
    setPixmap(QWizard::WatermarkPixmap, QPixmap(kWatermark));

    label = new QLabel;
    label->setWordWrap(true);
    outputView = new QTextEdit;
    outputView->setReadOnly(true);

    auto *layout = new QVBoxLayout;
    layout->addWidget(label);
    layout->addWidget(outputView);
    setLayout(layout);
}

void InstallPage::initializePage()
{
    // In the current directory, which the wizard inherits from the launcher.
    const QString configPath = QStringLiteral("./") + QString::fromLatin1(kConfigFileName);
    if (!QFile::exists(configPath)) {
        QMessageBox::critical(this, kAbortedTitle,
                              "File not found.Failed locating required configuration file: .agent.conf.",
                              QMessageBox::Ok);
        QMessageBox::critical(this, kAbortedTitle, QStringLiteral("config_file_path=%1").arg(configPath),
                              QMessageBox::Ok);
        exit(kConfigUnusableStatus);
    }
    if (!workerStarted && !dependenciesMet())
        return;
    const QString problem = stageConfiguration(configPath, QString::fromLatin1(kStagedConfigPath));
    if (!problem.isEmpty()) {
        QMessageBox::critical(this, kAbortedTitle,
                              // Concatenated: the several-argument arg() needs Qt 5.14.
                              QStringLiteral("The configuration ") + configPath
                                  + QStringLiteral(" could not be staged to ") + QString::fromLatin1(kStagedConfigPath)
                                  + QStringLiteral(": ") + problem + QStringLiteral("."),
                              QMessageBox::Ok);
        exit(kConfigUnusableStatus);
    }

    if (!workerStarted) {
        workerStarted = true;
        worker = new InstallWorker(this);
        connect(worker, SIGNAL(dataRead(const QStringList &)), this, SLOT(process_readData(const QStringList &)),
                Qt::AutoConnection);
        connect(worker, SIGNAL(finished(int, const QStringList &)), this,
                SLOT(process_finished(int, const QStringList &)), Qt::AutoConnection);
        connect(worker, SIGNAL(waiting(const QString &)), this, SLOT(process_waiting(const QString &)),
                Qt::AutoConnection);
        worker->start();
    }
}

int InstallPage::nextId() const
{
    return -1;
}

bool InstallPage::isInstalling() const
{
    return worker && !worker->isFinished();
}

void InstallPage::appendEntry(const QString &entry)
{
    // Qt lays out a word wider than the view by measuring the rest of the word for every line
    // it fills, which grows with the square of the word's length: a read of output without
    // blanks (base64, a progress bar) makes one word of up to 64 KiB. Such output is broken
    // anywhere from then on, as the word itself was anyway, and costs time in proportion.
    if (outputView->wordWrapMode() != QTextOption::WrapAnywhere && longestWord(entry) > kLongestWordWrapped)
        outputView->setWordWrapMode(QTextOption::WrapAnywhere);
    outputView->append(entry);
}

bool InstallPage::stopWaiting()
{
    if (!worker || !worker->cancelBeforeInstalling())
        return false;
    worker->wait(); // ends within one look at the locks
    return true;
}

bool InstallPage::dependenciesMet()
{
    const std::vector<std::string> unmet = unmet_dependencies(kPackagePath);
    if (unmet.empty())
        return true;
    const UnmetDependencyText text = unmet_dependency_text(unmet);
    const QString needs = QStringLiteral("\n") + QString::fromStdString(text.needs);
    const QString remedy
        = QStringLiteral("\n") + QString::fromStdString(text.remedy) + QStringLiteral(". Nothing was installed.");
    process_finished(kMissingDependencyStatus, QStringList() << needs << remedy);
    return false;
}

void InstallPage::process_waiting(const QString &what)
{
    label->setText(what);
}

void InstallPage::showStillRunningNote()
{
    label->setText(QStringLiteral("The installation is still running. The wizard can be closed when it has "
                                  "finished."));
}

void InstallPage::process_readData(const QStringList &ss)
{
    // The worker only ever appends to its list: what is shown already stays, and only the
    // new entries are added, so the cost grows with the output, not with its square.
    if (ss.size() < shownEntries) {
        outputView->clear();
        shownEntries = 0;
    }
    for (int i = shownEntries; i < ss.size(); ++i) {
        QString entry = ss.at(i);
        entry.remove(QLatin1Char('\n'));
        appendEntry(entry);
    }
    shownEntries = ss.size();
}

void InstallPage::process_finished(int retcode, const QStringList &ss)
{
    label->clear();
    if (retcode != 0) {
        // The launcher learns of the failure from the wizard's exit status.
        static_cast<tqwiz *>(wizard())->exitStatus = retcode;
        outputView->insertPlainText(QStringLiteral("Failed with error :") + QString::number(retcode));
        for (const QString &entry : ss)
            appendEntry(entry);
        setTitle(QStringLiteral("Failed."));
        wizard()->button(QWizard::CancelButton)->show();
        wizard()->button(QWizard::FinishButton)->hide();
        return;
    }
    static_cast<tqwiz *>(wizard())->installSucceeded = true;
    // The package has taken its copy of the secret; after a failure it stays for dpkg --configure -a.
    QFile::remove(QString::fromLatin1(kStagedConfigPath));
    outputView->append(QStringLiteral("Installation Succesful."));
    setTitle(QStringLiteral("Finished."));
    wizard()->button(QWizard::CancelButton)->hide();
    wizard()->button(QWizard::FinishButton)->show();
}

// ---------------------------------------------------------------------------
// InstallWorker

InstallWorker::InstallWorker(QObject *parent)
    : QThread(parent)
    , stage(Preparing)
{}

bool InstallWorker::cancelBeforeInstalling()
{
    return stage.testAndSetOrdered(Preparing, Cancelled) || stage.loadAcquire() == Cancelled;
}

bool InstallWorker::waitForPackageManager(QStringList &ss)
{
    QElapsedTimer waited;
    waited.start();
    bool announced = false;
    LockHolder shown;
    for (;;) {
        if (stage.loadAcquire() == Cancelled)
            return false;
        const LockHolder holder = package_manager_holder(kDpkgAdminDir);
        if (!holder.held)
            break;
        if (waited.elapsed() >= qint64(kPackageManagerWaitSeconds) * 1000) {
            ss << QStringLiteral("\n")
                      + QString::fromLocal8Bit(still_busy_text(kPackageManagerWaitSeconds, holder).c_str())
                      + QStringLiteral("; nothing was installed. Try again later.");
            emit finished(kBusyStatus, ss);
            return false;
        }
        if (!announced || holder.pid != shown.pid || holder.program != shown.program) {
            announced = true;
            shown = holder;
            emit waiting(QString::fromLocal8Bit(waiting_text(holder).c_str()) + QStringLiteral("\u2026"));
        }
        msleep(kLockPollMs);
    }
    if (announced)
        emit waiting(QString());
    return true;
}

InstallWorker::~InstallWorker()
{
    // The wizard refuses to close while installing; this covers any other way out.
    wait();
}

void InstallWorker::run()
{
    program.clear();
    arguments.clear();
    QStringList ss;

    const auto missingTool = [&](const char *path) {
        ss << QStringLiteral("Could not find application ") << QString::fromLatin1(path);
        emit finished(kMissingToolStatus, ss);
    };

    if (!QFile::exists(kPkexecPath)) {
        missingTool(kPkexecPath);
        return;
    }
    program = QString::fromLatin1(kPkexecPath);

    if (QString::fromLatin1(kPackagePath).indexOf(QLatin1String(kDebianMarker)) >= 0) {
        if (!QFile::exists(kDpkgPath)) {
            missingTool(kDpkgPath);
            return;
        }
        arguments << QString::fromLatin1(kDpkgPath) << QStringLiteral("--force-all") << QStringLiteral("-D1")
                  << QStringLiteral("-i");
    } else {
        if (!QFile::exists(kRpmPath)) {
            missingTool(kRpmPath);
            return;
        }
        arguments << QString::fromLatin1(kRpmPath) << QStringLiteral("-Uvh");
    }
    arguments << QString::fromLatin1(kPackagePath);

    // dpkg itself would give up at once on a lock held by the automatic upgrades.
    if (!waitForPackageManager(ss))
        return;
    // Past this point Cancel no longer ends the wizard: the package manager runs to its end.
    if (!stage.testAndSetOrdered(Preparing, Installing))
        return;

    QProcess process;
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(kStartTimeoutMs)) {
        // Reported, so the page leaves "Installing.." instead of waiting for ever.
        ss << QStringLiteral("Could not start application ") << program << QStringLiteral("\n") + process.errorString();
        emit finished(kStartFailedStatus, ss);
        return;
    }

    while (process.waitForReadyRead(-1)) {
        ss << textUpToNul(process.readAllStandardOutput());
        emit dataRead(ss);
    }
    process.waitForFinished(-1);
    ss << textUpToNul(process.readAllStandardOutput());
    ss << textUpToNul(process.readAllStandardError());

    const int exitCode = process.exitCode();
    if (exitCode == 0) {
        ss << QStringLiteral("\nInstallation Finished");
    } else {
        ss << QStringLiteral("\nError Code:%1").arg(exitCode);
        ss << QStringLiteral("\nApplication: %1").arg(program);
        ss << QStringLiteral("\nArguments: %2").arg(arguments.join(QLatin1Char(';')));
    }
    emit finished(exitCode, ss);
    process.close();
}
