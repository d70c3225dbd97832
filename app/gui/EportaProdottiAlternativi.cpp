#include "app/gui/EportaProdottiAlternativi.h"

#include "Version.h"
#include "app/core/Caption.h"
#include "app/core/HostFolder.h"
#include "app/core/Mod.h"
#include "app/core/OptionsFile.h"
#include "app/gui/frmFolderSelect.h"
#include "conversion/ConversionRun.h"
#include "conversion/Restore.h"
#include "conversion/ViewWait.h"
#include "db/ConnectionString.h"
#include "db/HostConfigFile.h"
#include "db/Lookups.h"
#include "errors/ErrorLog.h"
#include "errors/Redact.h"
#include "platform/Dialogs.h"
#include "platform/Platform.h"
#include "platform/Shell.h"
#include "report/MissingCodeReport.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <algorithm>
#include <exception>

namespace {

// The window was designed in twips; 15 twips make a pixel at 96 dpi.
QRect twips(int left, int top, int width, int height)
{
    return {left / 15, top / 15, width / 15, height / 15};
}

template <typename W> W* place(W* widget, const char* name, const QRect& geometry)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, const QRect& geometry)
{
    auto* l = place(new QLabel(text, parent), name, geometry);
    // Labels of the original toolkit wrap inside their box and start at its top left.
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    l->setWordWrap(true);
    return l;
}

QPushButton* button(QWidget* parent, const char* name, const QString& text, const QRect& geometry)
{
    auto* b = place(new QPushButton(text, parent), name, geometry);
    b->setAutoDefault(false);
    return b;
}

void setFontSize(QWidget* widget, qreal points, bool bold = false)
{
    QFont font = widget->font();
    font.setPointSizeF(points);
    font.setBold(bold);
    widget->setFont(font);
}

void setColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

QProgressBar* progressBar(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* bar = place(new QProgressBar(parent), name, geometry);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    return bar;
}

} // namespace

EportaProdottiAlternativi::EportaProdottiAlternativi(const Platform& platform, Mod& mod,
                                                     ErrorLog& log, QWidget* parent)
    : QWidget(parent), platform_(platform), mod_(mod), log_(log)
{
    setObjectName(QStringLiteral("EportaProdottiAlternativi"));
    QFont base = font();
    base.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif")});
    base.setPointSizeF(8.25);
    setFont(base);
    setFixedSize(8895 / 15, 8640 / 15);
    buildControls();

    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void EportaProdottiAlternativi::buildControls()
{
    // Created back to front: what Frame4 covers first, then Frame4, then what lies on it.
    txtDestinazione = place(new QLineEdit(QStringLiteral("c:\\programmi\\mirkel"), this),
                            "txtDestinazione", twips(240, 1920, 7335, 615));
    txtDestinazione->hide();
    Label5 = label(this, "Label5", QStringLiteral("POSSO INSERIRE QUESTI CAMPI SE NECESSARIO"),
                   twips(480, 4680, 3735, 615));
    Label4[1] = label(this, "Label4_1", QStringLiteral("Dal :"), twips(480, 1080, 495, 255));
    Label3[1] = label(this, "Label3_1", QStringLiteral("Al:"), twips(2520, 1800, 375, 255));
    Label4[0] = label(this, "Label4_0", QStringLiteral("Data Base"), twips(405, 1725, 1815, 255));
    Label3[0] =
        label(this, "Label3_0", QStringLiteral("Destinazione file "), twips(405, 3165, 5535, 255));
    Label2 = label(this, "Label2", QStringLiteral("NomeFile"), twips(5085, 2445, 2535, 255));

    Label1 = label(this, "Label1", QStringLiteral("CONVERTI CODICE TITOLO NUOVO RMV PER MIRKEL"),
                   twips(120, 240, 8655, 495));
    setFontSize(Label1, 9.75, true);
    setColour(Label1, QPalette::WindowText, QColor(0, 0, 64));

    // Frames are opaque, so what lies behind Frame4 is really hidden by it.
    Frame4 = place(new QGroupBox(this), "Frame4", twips(120, 960, 8415, 7215));
    Frame4->setAutoFillBackground(true);
    Label8 = label(Frame4, "Label8", QStringLiteral("Data Base"), twips(120, 120, 1695, 255));
    Label7 = label(Frame4, "Label7",
                   QStringLiteral("Controllare il nome del del DataBase  dalla Lista che sia "
                                  "quello giusto"),
                   twips(120, 1200, 8055, 855));
    setFontSize(Label7, 12);
    setColour(Label7, QPalette::WindowText, QColor(255, 128, 0));
    Command2 = button(Frame4, "Command2", QStringLiteral("Test CodFieg 069"),
                      twips(6480, 2160, 1575, 375));
    // The one free place on the frame, beside Command2 but a pixel lower: ProgressBar1, in
    // front of the frame, overlaps Command2's top row and must overlap nothing more.
    cmdAnteprima =
        button(Frame4, "cmdAnteprima", QStringLiteral("Anteprima"), twips(4800, 2175, 1575, 375));
    // In the same row, left of cmdAnteprima: the row is free from the frame's edge on.
    cmdRipristina =
        button(Frame4, "cmdRipristina", QStringLiteral("Ripristina"), twips(3120, 2175, 1575, 375));
    ProgressBar2 = progressBar(Frame4, "ProgressBar2", twips(240, 3840, 7815, 375));
    Label6 = label(Frame4, "Label6", QStringLiteral("Carico del file nella Tabella... "),
                   twips(360, 4440, 4575, 735));
    setFontSize(Label6, 13.5);
    // What a wait or a download says may be copied, as a message box's text may.
    Label6->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Label6->hide();
    LabelFatti =
        label(Frame4, "LabelFatti", QStringLiteral("0 - Elaborati"), twips(240, 6720, 3015, 255));
    LabelModificati = label(Frame4, "LabelModificati", QStringLiteral("0 - Modificati"),
                            twips(5160, 6720, 3015, 255));
    for (QLabel* counter : {LabelFatti, LabelModificati}) {
        setFontSize(counter, 8.25, true);
        counter->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    }

    Frame3 = place(new QGroupBox(this), "Frame3", twips(360, 6240, 8055, 1335));
    Frame3->setAutoFillBackground(true);
    CmdControllo =
        button(Frame3, "CmdControllo", QStringLiteral("Controllo"), twips(120, 360, 2175, 735));
    CmdControllo->hide();
    CmdSalva =
        button(Frame3, "CmdSalva", QStringLiteral("Salva Opzioni"), twips(2880, 360, 2175, 735));
    CmdSalva->hide();
    CmdUscita = button(Frame3, "CmdUscita", QStringLiteral("Chiudi"), twips(5640, 360, 2175, 735));

    OptionDistributore[0] = place(new QRadioButton(QStringLiteral("AG.RMV"), this),
                                  "OptionDistributore_0", twips(240, 720, 1455, 255));
    OptionDistributore[1] = place(new QRadioButton(QStringLiteral("RMV.DORVANE'"), this),
                                  "OptionDistributore_1", twips(3000, 720, 3495, 255));
    OptionDistributore[0]->setChecked(true);
    OptionDistributore[0]->hide();
    OptionDistributore[1]->hide();

    Command1 = button(this, "Command1", QStringLiteral("Converti codice Testata"),
                      twips(240, 3600, 7935, 975));
    QFont comic = Command1->font();
    comic.setFamilies({QStringLiteral("Comic Sans MS")});
    comic.setPointSizeF(14.25);
    comic.setBold(true);
    Command1->setFont(comic);
    setColour(Command1, QPalette::Button, QColor(224, 224, 224));

    cmdSelezionaDest =
        button(this, "cmdSelezionaDest", QStringLiteral("..."), twips(7680, 1920, 495, 525));
    cmdSelezionaDest->hide();

    txtNewDB = place(new QLineEdit(QStringLiteral("TabellaCodiciZided.txt"), this), "txtNewDB",
                     twips(4680, 1320, 3495, 375));
    setFontSize(txtNewDB, 9.75);
    txtNewDB->setEnabled(false);

    cboAziende = place(new QComboBox(this), "cboAziende", twips(240, 1320, 4215, 360));
    setFontSize(cboAziende, 9.75);
    cboAziende->setEnabled(false);

    ProgressBar1 = progressBar(this, "ProgressBar1", twips(240, 2760, 7935, 375));

    connect(Command1, &QPushButton::clicked, this, &EportaProdottiAlternativi::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &EportaProdottiAlternativi::Command2_Click);
    connect(cmdAnteprima, &QPushButton::clicked, this, &EportaProdottiAlternativi::Anteprima_Click);
    connect(cmdRipristina, &QPushButton::clicked, this,
            &EportaProdottiAlternativi::Ripristina_Click);
    connect(CmdUscita, &QPushButton::clicked, this, &EportaProdottiAlternativi::CmdUscita_Click);
    connect(CmdSalva, &QPushButton::clicked, this, &EportaProdottiAlternativi::CmdSalva_Click);
    connect(cmdSelezionaDest, &QPushButton::clicked, this,
            &EportaProdottiAlternativi::cmdSelezionaDest_Click);
    connect(CmdControllo, &QPushButton::clicked, this,
            &EportaProdottiAlternativi::CmdControllo_Click);
}

bool EportaProdottiAlternativi::Form_Load()
{
    setWindowTitle(
        windowCaption(CONVERTI_VERSION_MAJOR, CONVERTI_VERSION_MINOR, CONVERTI_VERSION_REVISION));

    QString path;
    try {
        bool gaveUp = false;
        path = FindHostFolder(platform_, mod_, gaveUp);
        if (gaveUp) {
            unloadWindow();
            return false;
        }
    } catch (const std::exception& e) {
        // Nothing to connect to; the window stays usable so the operator can close it.
        // Our own code throws nothing: what() comes from the C++ runtime or the system, in
        // the local 8-bit encoding (the ANSI code page on Windows, UTF-8 here on Linux).
        platform_.dialogs.message(QString::fromLocal8Bit(e.what()), MsgIcon::Critical);
        return true;
    }

    QString why;
    if (!ReadHostConfig(path, mod_.hostConfig, &why)) {
        // Said now, and again by each button that would connect: a connection to half a
        // configuration answers in the driver's words, which never name the file.
        hostConfigTrouble_ = QStringLiteral("Il file di configurazione %1 non e' valido: %2\n\n"
                                            "Correggerlo, poi riavviare il programma.")
                                 .arg(QDir::toNativeSeparators(path), why);
        platform_.dialogs.message(hostConfigTrouble_, MsgIcon::Critical);
        return true;
    }

    const HostConfig& config = mod_.hostConfig;
    if (Error e =
            DataBaseList(*cboAziende, config.DBServerName, config.DBUsername, config.DBPassword);
        e.failed()) {
        platform_.dialogs.message(withoutPassword(e.description), MsgIcon::Critical);
        cboAziende->clear();
    } else if (cboAziende->count() > 0) {
        cboAziende->setCurrentIndex(0);
        cboAziende->setEnabled(true);
    }
    configOption();
    return true;
}

Error EportaProdottiAlternativi::DataBaseList(QComboBox& cboDatabase, const QString& DBServerName,
                                              const QString& DBAdminUserName,
                                              const QString& DBAdminPassword)
{
    QStringList names;
    if (Error e = db::DataBaseList(DBServerName, DBAdminUserName, DBAdminPassword, names);
        e.failed())
        return e;
    cboDatabase.clear();
    cboDatabase.addItems(names);
    return {};
}

QString EportaProdottiAlternativi::withoutPassword(QString text) const
{
    // The data layer keeps the password out of its messages; this is the last line of
    // defence before the operator's screen.
    return withoutSecret(std::move(text), mod_.hostConfig.DBPassword);
}

void EportaProdottiAlternativi::configOption()
{
    options::read(
        platform_.files, options::filePath(platform_),
        [this](options::Key key, const QString& value) {
            (key == options::Key::Destinazione ? txtDestinazione : txtNewDB)->setText(value);
        },
        [this] { pumpEvents(); });
}

void EportaProdottiAlternativi::Command1_Click()
{
    const QScopedValueRollback<bool> working(working_, true);
    closeRequested_ = false;
    ConversionRun run(platform_, log_, mod_.hostConfig, *this, TabellaCodiciFile);
    run.setHostConfigTrouble(hostConfigTrouble_);
    run.execute();
}

void EportaProdottiAlternativi::Anteprima_Click()
{
    const QScopedValueRollback<bool> working(working_, true);
    closeRequested_ = false;
    ConversionRun run(platform_, log_, mod_.hostConfig, *this, TabellaCodiciFile);
    run.setHostConfigTrouble(hostConfigTrouble_);
    run.preview();
}

void EportaProdottiAlternativi::Ripristina_Click()
{
    const QScopedValueRollback<bool> working(working_, true);
    closeRequested_ = false;
    Restore restore(platform_, log_, mod_.hostConfig, *this);
    restore.setHostConfigTrouble(hostConfigTrouble_);
    restore.execute();
}

Error EportaProdottiAlternativi::ControllaCodiciNonPresentiNelFile()
{
    const QScopedValueRollback<bool> working(working_, true);
    return report::ControllaCodiciNonPresentiNelFile(platform_, mod_.hostConfig, *this,
                                                     TabellaCodiciFile, &log_);
}

void EportaProdottiAlternativi::closeEvent(QCloseEvent* event)
{
    if (working_ && !unloading_) {
        // During a wait the close box asks the action to end, as Chiudi does.
        if (beforeWait_)
            closeRequested_ = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void EportaProdottiAlternativi::Command2_Click()
{
    // Half a configuration would answer "not found" for a catalogue it never reached.
    if (!hostConfigTrouble_.isEmpty()) {
        platform_.dialogs.message(hostConfigTrouble_, MsgIcon::Critical);
        return;
    }
    QString id;
    {
        const QScopedValueRollback<bool> working(working_, true);
        closeRequested_ = false;
        ViewWait wait(*this, QStringLiteral("la ricerca del distributore 069"));
        id = FIEGDLCodiceGet(QStringLiteral("069"), &wait);
    }
    // Chiudi during a wait: the look-up logged what it gave up; the window closes as Chiudi
    // does.
    if (closeRequested_) {
        unloadWindow();
        return;
    }
    if (!id.isEmpty())
        platform_.dialogs.message(QStringLiteral("Codice Fieg 069 trovato! IDDL=") + id);
    else
        platform_.dialogs.message(QStringLiteral("Codice Fieg 069 non trovato!"));
}

void EportaProdottiAlternativi::CmdUscita_Click()
{
    // During a wait the action under way ends first, and closes the window itself.
    if (beforeWait_) {
        closeRequested_ = true;
        return;
    }
    unloadWindow();
}

void EportaProdottiAlternativi::CmdSalva_Click()
{
    options::save(platform_, txtDestinazione->text(), txtNewDB->text());
}

void EportaProdottiAlternativi::cmdSelezionaDest_Click()
{
    try {
        // No owner and no waiting: the choice only lands in PickedFolder.
        auto* picker = new frmFolderSelect(nullptr);
        picker->setAttribute(Qt::WA_DeleteOnClose);
        connect(picker, &frmFolderSelect::folderPicked, this,
                [this](const QString& folder) { mod_.PickedFolder = folder; });
        picker->show();
    } catch (const std::exception& e) {
        log_.LogError({ErrorNumber::InvalidArgument, QString::fromLocal8Bit(e.what())},
                      QStringLiteral("cmdSelezionaDest_Click"));
    }
}

void EportaProdottiAlternativi::CmdControllo_Click()
{
    setCursor(Qt::WaitCursor);
    platform_.shell.openFolder(txtDestinazione->text());
    unsetCursor();
}

Error EportaProdottiAlternativi::getIDProdCodTestata(db::Connection& cn, qint32 CodiceTestata,
                                                     qint32& id)
{
    return db::getIDProdCodTestata(cn, CodiceTestata, id);
}

QString EportaProdottiAlternativi::FIEGDLCodiceGet(const QString& FIEGDL, db::LockWait* wait)
{
    const HostConfig& config = mod_.hostConfig;
    return db::FIEGDLCodiceGet(db::connectionTarget(config.DBServerName, config.DBUsername,
                                                    config.DBPassword, cboAziende->currentText()),
                               FIEGDL, log_, wait);
}

QString EportaProdottiAlternativi::FirstConnectionString(const QString& Server,
                                                         const QString& Username,
                                                         const QString& Password) const
{
    return db::FirstConnectionString(Server, Username, Password);
}

QString EportaProdottiAlternativi::ConnectionString(const QString& Server, const QString& Username,
                                                    const QString& Password) const
{
    return db::ConnectionString(Server, Username, Password, cboAziende->currentText());
}

QString EportaProdottiAlternativi::catalogue() const
{
    return cboAziende->currentText();
}

bool EportaProdottiAlternativi::distributorOption(int index) const
{
    return index >= 0 && index < 2 && OptionDistributore[index]->isChecked();
}

QLabel* EportaProdottiAlternativi::viewLabel(ViewLabel which) const
{
    switch (which) {
    case ViewLabel::Label6:
        return Label6;
    case ViewLabel::Label7:
        return Label7;
    case ViewLabel::LabelFatti:
        return LabelFatti;
    case ViewLabel::LabelModificati:
        return LabelModificati;
    }
    return Label6;
}

void EportaProdottiAlternativi::setCaption(ViewLabel which, const QString& text)
{
    viewLabel(which)->setText(text);
}

void EportaProdottiAlternativi::setLabelVisible(ViewLabel which, bool visible)
{
    viewLabel(which)->setVisible(visible);
}

void EportaProdottiAlternativi::setProgressMaximum(int maximum)
{
    // A range of 0..0 makes QProgressBar draw a busy bar; with nothing to move the operator
    // sees an empty one.
    ProgressBar2->setRange(0, std::max(maximum, 1));
}

void EportaProdottiAlternativi::setProgressValue(int value)
{
    ProgressBar2->setValue(value);
}

void EportaProdottiAlternativi::setCommand1Enabled(bool enabled)
{
    Command1->setEnabled(enabled);
}

void EportaProdottiAlternativi::setCloseEnabled(bool enabled)
{
    CmdUscita->setEnabled(enabled);
}

void EportaProdottiAlternativi::setWindowEnabled(bool enabled)
{
    setEnabled(enabled);
}

void EportaProdottiAlternativi::unloadWindow()
{
    const QScopedValueRollback<bool> unloading(unloading_, true);
    close();
}

void EportaProdottiAlternativi::pumpEvents()
{
    QCoreApplication::processEvents();
}

void EportaProdottiAlternativi::showWait(const QString& text)
{
    if (text.isEmpty()) {
        if (!beforeWait_)
            return;
        for (const auto& [control, enabled] : beforeWait_->controls)
            control->setEnabled(enabled);
        Label6->setText(beforeWait_->caption);
        Label6->setVisible(beforeWait_->captionVisible);
        Label6->setGeometry(beforeWait_->captionGeometry);
        Label6->setFont(beforeWait_->captionFont);
        setEnabled(beforeWait_->windowEnabled);
        beforeWait_.reset();
        return;
    }
    if (!beforeWait_) {
        // The window is enabled for Chiudi alone: every other control that acts is not.
        BeforeWait& before = beforeWait_.emplace();
        before.caption = Label6->text();
        before.captionVisible = Label6->isVisible();
        before.captionGeometry = Label6->geometry();
        before.captionFont = Label6->font();
        // The stage caption's box is narrow; the wait's text takes the frame's width.
        Label6->setGeometry(twips(360, 4440, 7695, 735));
        setFontSize(Label6, 10);
        before.windowEnabled = isEnabled();
        for (QWidget* control : std::initializer_list<QWidget*>{Command1, Command2, cmdAnteprima,
                                                                cmdRipristina, cboAziende}) {
            before.controls.append({control, control->isEnabledTo(this)});
            control->setEnabled(false);
        }
        setEnabled(true);
    }
    // Set only when it changes: setting it again would drop the operator's selection.
    if (Label6->text() != text)
        Label6->setText(text);
    Label6->show();
}
