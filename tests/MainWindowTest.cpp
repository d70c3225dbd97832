#include "Version.h"
#include "app/core/Caption.h"
#include "app/core/Mod.h"
#include "app/gui/EportaProdottiAlternativi.h"
#include "app/gui/frmFolderSelect.h"
#include "db/Database.h"
#include "errors/ErrorLog.h"
#include "tests/support/Fakes.h"
#include "tests/support/HostFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QWindow>
#include <QtTest>
#include <memory>
#include <stdexcept>

namespace {

const QString kInitialNomeFile = QStringLiteral("TabellaCodiciZided.txt");
const QString kInitialDestinazione = QStringLiteral("c:\\programmi\\mirkel");
const QByteArray kOptions = "DESTINAZIONE= [d:\\dati]\r\nNOMEFILE= [Tab.txt]\r\n";

QByteArray hostFile(const QString& server, const QString& password = QStringLiteral("userpw"))
{
    return (QStringLiteral(R"(<?xml version="1.0" encoding="windows-1252"?>
<Mirkel debug="0" terminal="CASSA1" inforivMaster="1" toolbarShow="1">
  <DBServerName>%1</DBServerName>
  <DBAdminUsername>sa</DBAdminUsername>
  <DBAdminPassword>adminpw</DBAdminPassword>
  <DBUsername>mirkel</DBUsername>
  <DBPassword>%2</DBPassword>
</Mirkel>
)")
                .arg(server.toHtmlEscaped(), password))
        .toLatin1();
}

QString textOf(const QWidget* w)
{
    if (auto* l = qobject_cast<const QLabel*>(w))
        return l->text();
    if (auto* b = qobject_cast<const QAbstractButton*>(w))
        return b->text();
    if (auto* e = qobject_cast<const QLineEdit*>(w))
        return e->text();
    if (auto* g = qobject_cast<const QGroupBox*>(w))
        return g->title();
    if (auto* c = qobject_cast<const QComboBox*>(w))
        return c->currentText();
    return QString();
}

// Dialogs whose folder picker fails, to see how start-up copes with an error escaping the
// host folder search.
class FailingPickerDialogs final : public Dialogs
{
public:
    explicit FailingPickerDialogs(FakeDialogs& inner) : inner_(inner) {}
    MsgAnswer message(const QString& text, MsgIcon icon, const QString& title,
                      MsgButtons buttons) override
    {
        return inner_.message(text, icon, title, buttons);
    }
    std::optional<QString> openFile(const QString& name, const QString& folder) override
    {
        return inner_.openFile(name, folder);
    }
    // As the runtime or the system would word it: in the local 8-bit encoding, which on
    // Windows is the ANSI code page, not UTF-8.
    QString pickFolder() override
    {
        throw std::runtime_error(QStringLiteral("Unità non pronta").toLocal8Bit().toStdString());
    }

private:
    FakeDialogs& inner_;
};

// Dialogs that pass on a close request from the window manager when a box comes up, and
// record whether the window was still there afterwards.
class CloseRequestDialogs final : public Dialogs
{
public:
    explicit CloseRequestDialogs(FakeDialogs& inner) : inner_(inner) {}
    MsgAnswer message(const QString& text, MsgIcon icon, const QString& title,
                      MsgButtons buttons) override
    {
        if (window && !requested) {
            requested = true;
            window->windowHandle()->close();
            visibleAfterRequest = window->isVisible();
        }
        return inner_.message(text, icon, title, buttons);
    }
    std::optional<QString> openFile(const QString& name, const QString& folder) override
    {
        return inner_.openFile(name, folder);
    }
    QString pickFolder() override { return inner_.pickFolder(); }

    QWidget* window = nullptr;
    bool requested = false;
    bool visibleAfterRequest = false;

private:
    FakeDialogs& inner_;
};

// Records the window's cursor at the moment the shell is asked to open the folder.
class CursorShell final : public Shell
{
public:
    void openFolder(const QString& folder) override
    {
        opened.append(folder);
        if (window)
            cursorWhileOpening = window->cursor().shape();
    }
    bool startDetached(const QString&, const QStringList&) override { return true; }

    QWidget* window = nullptr;
    QStringList opened;
    Qt::CursorShape cursorWhileOpening = Qt::ArrowCursor;
};

// A program folder, a server folder of embedded catalogues, and the window over them.
struct Harness
{
    explicit Harness(Dialogs* dialogs = nullptr, Shell* shell = nullptr)
        : platform{t.platform.programFolder,
                   t.clock,
                   dialogs ? *dialogs : t.dialogs,
                   t.files,
                   t.downloader,
                   shell ? *shell : t.shell},
          log(platform.programFolder, t.clock, t.files),
          window(std::make_unique<EportaProdottiAlternativi>(platform, mod, log))
    {
    }

    QString serverName() const { return QStringLiteral("sqlite:") + server.path(); }
    void writeHost(const QString& serverText, const QString& password = "userpw")
    {
        t.writeFile(QStringLiteral("Mirkel.XML"), hostFile(serverText, password));
    }
    // Catalogues as a host server would hold them; the list shows MIRKEL2012 and TELVORNORD.
    void standardServer()
    {
        QVERIFY(
            !fixture::createCatalogue(server.path(), "Mirkel2012", fixture::standardSubjects(), {})
                 .isEmpty());
        QVERIFY(
            !fixture::createCatalogue(server.path(), "OLDMIRKEL", fixture::standardSubjects(), {})
                 .isEmpty());
        QVERIFY(!fixture::createCatalogue(server.path(), "model", {}, {}).isEmpty());
        QVERIFY(!fixture::createCatalogue(server.path(), "telvorNord",
                                          {{7, QStringLiteral("DL"), QStringLiteral("211")},
                                           {8, QStringLiteral("ED"), QStringLiteral("069")}},
                                          {})
                     .isEmpty());
        writeHost(serverName());
    }

    template <typename W = QWidget> W* child(const QString& name) const
    {
        W* w = window->findChild<W*>(name);
        if (!w)
            qWarning("no child %s", qPrintable(name));
        return w;
    }
    QComboBox* list() const { return child<QComboBox>(QStringLiteral("cboAziende")); }
    QStringList entries() const
    {
        QStringList names;
        for (int i = 0; i < list()->count(); ++i)
            names.append(list()->itemText(i));
        return names;
    }

    TestPlatform t;
    QTemporaryDir server;
    Platform platform;
    Mod mod;
    ErrorLog log;
    std::unique_ptr<EportaProdottiAlternativi> window;
};

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { db::setFaultHook({}); }

    void caption_data();
    void caption();
    void captionIsSetAtLoad();

    void controls_data();
    void controls();
    void fontsAndColours();
    void clientAreaAndFrames();
    void coveredLabelsLieBehindFrame4();
    void coveredLabelsAreNotDrawn();
    void addedButtonCoversNoControl_data();
    void addedButtonCoversNoControl();

    void startWithValidConfiguration();
    void startWithInvalidConfiguration_data();
    void startWithInvalidConfiguration();
    void startWithoutMatchingCatalogue();
    void startWithUnreachableServer();
    void loginRefusalShowsNoPassword_data();
    void loginRefusalShowsNoPassword();
    void startGiveUp();
    void startSurvivesAFailingHostSearch();

    void command2_data();
    void command2();
    void command2LogsAFailedLookup();
    void connectionStringFollowsTheList();

    void viewReachesTheControls_data();
    void viewReachesTheControls();
    void command1StartsTheRun();
    void missingCodeReportUsesTheChosenCatalogue();
    void chiudiAndCloseBoxEndTheProgram_data();
    void chiudiAndCloseBoxEndTheProgram();
    void closeBoxWaitsForTheWork_data();
    void closeBoxWaitsForTheWork();
    void waitLeavesOnlyChiudi();
    void progressBarWithNothingToMoveIsEmpty();
    void salvaOpzioniRoundTrip();
    void controlloOpensTheDestination();
    void selezionaDestOnlySetsPickedFolder();
};

void MainWindowTest::caption_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("revision");
    QTest::addColumn<QString>("caption");
    QTest::newRow("1.0.0.15") << 1 << 0 << 15 << "Conversione Codice Titolo Prodotto  1.0.15";
    QTest::newRow("two digits") << 2 << 12 << 0 << "Conversione Codice Titolo Prodotto  2.12.0";
}

void MainWindowTest::caption()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, revision);
    QFETCH(QString, caption);
    QCOMPARE(windowCaption(major, minor, revision), caption);
}

void MainWindowTest::captionIsSetAtLoad()
{
    Harness h;
    h.standardServer();
    QVERIFY(h.window->windowTitle().isEmpty());
    QVERIFY(h.window->Form_Load());
    QCOMPARE(h.window->windowTitle(), windowCaption(CONVERTI_VERSION_MAJOR, CONVERTI_VERSION_MINOR,
                                                    CONVERTI_VERSION_REVISION));
}

void MainWindowTest::controls_data()
{
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry"); // pixels: twips / 15
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<bool>("enabled");

    const QString w = QStringLiteral("EportaProdottiAlternativi");
    const QString f4 = QStringLiteral("Frame4");
    const QString f3 = QStringLiteral("Frame3");
    // clang-format off
    QTest::newRow("Frame4") << w << QRect(8, 64, 561, 481) << "" << true << true;
    QTest::newRow("Frame3") << w << QRect(24, 416, 537, 89) << "" << true << true;
    QTest::newRow("OptionDistributore_0") << w << QRect(16, 48, 97, 17) << "AG.RMV" << false << true;
    QTest::newRow("OptionDistributore_1") << w << QRect(200, 48, 233, 17) << "RMV.DORVANE'" << false << true;
    QTest::newRow("CmdControllo") << f3 << QRect(8, 24, 145, 49) << "Controllo" << false << true;
    QTest::newRow("CmdSalva") << f3 << QRect(192, 24, 145, 49) << "Salva Opzioni" << false << true;
    QTest::newRow("CmdUscita") << f3 << QRect(376, 24, 145, 49) << "Chiudi" << true << true;
    QTest::newRow("Command1") << w << QRect(16, 240, 529, 65) << "Converti codice Testata" << true << true;
    QTest::newRow("cmdSelezionaDest") << w << QRect(512, 128, 33, 35) << "..." << false << true;
    QTest::newRow("txtNewDB") << w << QRect(312, 88, 233, 25) << "TabellaCodiciZided.txt" << true << false;
    QTest::newRow("cboAziende") << w << QRect(16, 88, 281, 24) << "" << true << false;
    QTest::newRow("ProgressBar1") << w << QRect(16, 184, 529, 25) << "" << true << true;
    QTest::newRow("Label8") << f4 << QRect(8, 8, 113, 17) << "Data Base" << true << true;
    QTest::newRow("Label7") << f4 << QRect(8, 80, 537, 57)
        << "Controllare il nome del del DataBase  dalla Lista che sia quello giusto" << true << true;
    QTest::newRow("Command2") << f4 << QRect(432, 144, 105, 25) << "Test CodFieg 069" << true << true;
    QTest::newRow("cmdAnteprima") << f4 << QRect(320, 145, 105, 25) << "Anteprima" << true << true;
    QTest::newRow("cmdRipristina") << f4 << QRect(208, 145, 105, 25) << "Ripristina" << true << true;
    QTest::newRow("ProgressBar2") << f4 << QRect(16, 256, 521, 25) << "" << true << true;
    QTest::newRow("Label6") << f4 << QRect(24, 296, 305, 49) << "Carico del file nella Tabella... " << false << true;
    QTest::newRow("LabelFatti") << f4 << QRect(16, 448, 201, 17) << "0 - Elaborati" << true << true;
    QTest::newRow("LabelModificati") << f4 << QRect(344, 448, 201, 17) << "0 - Modificati" << true << true;
    QTest::newRow("txtDestinazione") << w << QRect(16, 128, 489, 41) << "c:\\programmi\\mirkel" << false << true;
    QTest::newRow("Label1") << w << QRect(8, 16, 577, 33) << "CONVERTI CODICE TITOLO NUOVO RMV PER MIRKEL" << true << true;
    QTest::newRow("Label5") << w << QRect(32, 312, 249, 41) << "POSSO INSERIRE QUESTI CAMPI SE NECESSARIO" << true << true;
    QTest::newRow("Label4_1") << w << QRect(32, 72, 33, 17) << "Dal :" << true << true;
    QTest::newRow("Label3_1") << w << QRect(168, 120, 25, 17) << "Al:" << true << true;
    QTest::newRow("Label4_0") << w << QRect(27, 115, 121, 17) << "Data Base" << true << true;
    QTest::newRow("Label3_0") << w << QRect(27, 211, 369, 17) << "Destinazione file " << true << true;
    QTest::newRow("Label2") << w << QRect(339, 163, 169, 17) << "NomeFile" << true << true;
    // clang-format on
}

void MainWindowTest::controls()
{
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(bool, shown);
    QFETCH(bool, enabled);

    Harness h;
    QWidget* control = h.child(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(control);
    QCOMPARE(control->parentWidget()->objectName(), parent);
    QCOMPARE(control->geometry(), geometry);
    QCOMPARE(textOf(control), text);
    QCOMPARE(!control->isHidden(), shown);
    QCOMPARE(control->isEnabled(), enabled);
}

void MainWindowTest::fontsAndColours()
{
    Harness h;
    const auto font = [&h](const char* name) {
        return h.child(QString::fromLatin1(name))->font();
    };
    const auto colour = [&h](const char* name, QPalette::ColorRole role) {
        return h.child(QString::fromLatin1(name))->palette().color(role);
    };

    QCOMPARE(font("Command1").families().value(0), QStringLiteral("Comic Sans MS"));
    QCOMPARE(font("Command1").pointSizeF(), 14.25);
    QVERIFY(font("Command1").bold());
    QCOMPARE(colour("Command1", QPalette::Button), QColor(224, 224, 224));
    QCOMPARE(font("Label1").pointSizeF(), 9.75);
    QVERIFY(font("Label1").bold());
    QCOMPARE(colour("Label1", QPalette::WindowText), QColor(0, 0, 64));
    QCOMPARE(font("Label7").pointSizeF(), 12.0);
    QCOMPARE(colour("Label7", QPalette::WindowText), QColor(255, 128, 0));
    QCOMPARE(font("Label6").pointSizeF(), 13.5);
    QCOMPARE(font("txtNewDB").pointSizeF(), 9.75);
    QCOMPARE(font("cboAziende").pointSizeF(), 9.75);
    for (const char* counter : {"LabelFatti", "LabelModificati"}) {
        QVERIFY(font(counter).bold());
        QVERIFY(h.child<QLabel>(QString::fromLatin1(counter))->alignment() & Qt::AlignHCenter);
    }
    // Everything else keeps the window's 8.25 pt.
    QCOMPARE(font("CmdUscita").pointSizeF(), 8.25);
    QVERIFY(!font("CmdUscita").bold());
    QCOMPARE(font("Label8").pointSizeF(), 8.25);
}

void MainWindowTest::clientAreaAndFrames()
{
    Harness h;
    QCOMPARE(h.window->size(), QSize(593, 576));
    QVERIFY(h.child<QRadioButton>(QStringLiteral("OptionDistributore_0"))->isChecked());
    QVERIFY(!h.child<QRadioButton>(QStringLiteral("OptionDistributore_1"))->isChecked());
    QCOMPARE(h.list()->count(), 0);
}

void MainWindowTest::coveredLabelsLieBehindFrame4()
{
    Harness h;
    QWidget* frame = h.child(QStringLiteral("Frame4"));
    for (const char* name :
         {"Label5", "Label4_0", "Label4_1", "Label3_0", "Label3_1", "Label2", "txtDestinazione"}) {
        QWidget* covered = h.child(QString::fromLatin1(name));
        QWidget* top = h.window->childAt(covered->geometry().center());
        QVERIFY2(top && top != covered, name);
        QVERIFY2(top == frame || frame->isAncestorOf(top) ||
                     top->objectName() == QStringLiteral("cboAziende") ||
                     top->objectName() == QStringLiteral("txtNewDB"),
                 name);
    }
    // In front of the frame.
    for (const char* name : {"Label1", "Command1", "cboAziende", "txtNewDB", "ProgressBar1"}) {
        QWidget* control = h.child(QString::fromLatin1(name));
        QCOMPARE(h.window->childAt(control->geometry().center()), control);
    }
    QCOMPARE(h.window->childAt(
                 h.child(QStringLiteral("CmdUscita"))->mapTo(h.window.get(), QPoint(10, 10))),
             h.child(QStringLiteral("CmdUscita")));
}

void MainWindowTest::coveredLabelsAreNotDrawn()
{
    Harness h;
    h.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
    auto* label = h.child<QLabel>(QStringLiteral("Label5"));
    const QRect area = label->geometry();

    const QImage withLabel = h.window->grab(area).toImage();
    label->hide();
    const QImage withoutLabel = h.window->grab(area).toImage();
    QCOMPARE(withLabel, withoutLabel);

    // The comparison means something only if the label draws when uncovered.
    h.child(QStringLiteral("Frame4"))->hide();
    const QImage uncoveredEmpty = h.window->grab(area).toImage();
    label->show();
    QVERIFY(h.window->grab(area).toImage() != uncoveredEmpty);
}

void MainWindowTest::addedButtonCoversNoControl_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("Anteprima") << QStringLiteral("cmdAnteprima");
    QTest::newRow("Ripristina") << QStringLiteral("cmdRipristina");
}

void MainWindowTest::addedButtonCoversNoControl()
{
    QFETCH(QString, name);
    // Hidden controls count, and so does Label6 at its wider wait geometry; Frame4 hides what
    // lies behind it already. (The list's popup is a window of its own.)
    Harness h;
    QWidget* window = h.window.get();
    const auto area = [window](QWidget* w) {
        return QRect(w->mapTo(window, QPoint()), w->size());
    };
    QWidget* button = h.child(name);
    const qsizetype frame = window->children().indexOf(h.child(QStringLiteral("Frame4")));
    for (const QString& wait : {QString(), QStringLiteral("In attesa")}) {
        h.window->showWait(wait);
        for (QWidget* w : window->findChildren<QWidget*>()) {
            const bool behind =
                w->parentWidget() == window && window->children().indexOf(w) <= frame;
            if (w != button && !behind && w->window() == window)
                QVERIFY2(!area(w).intersects(area(button)), qPrintable(w->objectName()));
        }
    }
}

void MainWindowTest::startWithValidConfiguration()
{
    Harness h;
    h.standardServer();
    h.t.writeFile(QStringLiteral(" mirkeloption.txt"), kOptions);

    QVERIFY(h.window->Form_Load());
    QCOMPARE(h.entries(), (QStringList{"MIRKEL2012", "TELVORNORD"}));
    QCOMPARE(h.list()->currentIndex(), 0);
    QCOMPARE(h.list()->currentText(), QStringLiteral("MIRKEL2012"));
    QVERIFY(h.list()->isEnabled());
    QCOMPARE(h.child<QLineEdit>(QStringLiteral("txtNewDB"))->text(), QStringLiteral("Tab.txt"));
    QCOMPARE(h.child<QLineEdit>(QStringLiteral("txtDestinazione"))->text(),
             QStringLiteral("d:\\dati"));
    QCOMPARE(h.mod.hostConfig.DBServerName, h.serverName());
    QCOMPARE(h.mod.hostConfig.DBUsername, QStringLiteral("mirkel"));
    QVERIFY(h.t.dialogs.shown.isEmpty());
    QCOMPARE(h.t.dialogs.pickFolderCalls, 0);
}

void MainWindowTest::startWithInvalidConfiguration_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("cause");
    QTest::newRow("DBPassword missing")
        << QByteArray(R"(<Mirkel debug="0" terminal="T" inforivMaster="1" toolbarShow="1">
<DBServerName>@SERVER@</DBServerName><DBAdminUsername>sa</DBAdminUsername>
<DBAdminPassword>a</DBAdminPassword><DBUsername>u</DBUsername></Mirkel>)")
        << "manca l'elemento <DBPassword>";
    QTest::newRow("terminal missing")
        << QByteArray(R"(<Mirkel debug="0" inforivMaster="1" toolbarShow="1">
<DBServerName>@SERVER@</DBServerName><DBAdminUsername>sa</DBAdminUsername>
<DBAdminPassword>a</DBAdminPassword><DBUsername>u</DBUsername><DBPassword>p</DBPassword>
</Mirkel>)")
        << "manca l'attributo terminal";
    QTest::newRow("not well-formed")
        << QByteArray("<Mirkel><DBServerName>@SERVER@</Mirkel>") << "non e' un XML valido (riga 1";
}

void MainWindowTest::startWithInvalidConfiguration()
{
    QFETCH(QByteArray, xml);
    QFETCH(QString, cause);
    Harness h;
    h.standardServer();
    h.t.writeFile(QStringLiteral("Mirkel.XML"), xml.replace("@SERVER@", h.serverName().toUtf8()));
    h.t.writeFile(QStringLiteral(" mirkeloption.txt"), kOptions);

    QVERIFY(h.window->Form_Load());
    QCOMPARE(h.list()->count(), 0);
    QVERIFY(!h.list()->isEnabled());
    // The options are read only after a good configuration.
    QCOMPARE(h.child<QLineEdit>(QStringLiteral("txtNewDB"))->text(), kInitialNomeFile);
    QCOMPARE(h.child<QLineEdit>(QStringLiteral("txtDestinazione"))->text(), kInitialDestinazione);
    QVERIFY(h.window->isEnabled());
    // One box at start names the file and what is wrong; each action says it again, without
    // connecting to what the file half names.
    const QString text = h.t.dialogs.texts().value(0);
    QVERIFY2(text.contains(QDir::toNativeSeparators(h.t.path("Mirkel.XML"))) &&
                 text.contains(cause),
             qPrintable(text));
    h.window->Command1_Click();
    h.window->Anteprima_Click();
    QCOMPARE(h.t.dialogs.texts(), (QStringList{text, text, text}));
    h.window->Ripristina_Click();
    h.window->Command2_Click();
    QCOMPARE(h.t.dialogs.texts().mid(3), (QStringList{text, text}));
    QVERIFY(h.window->isEnabled());
}

void MainWindowTest::startWithoutMatchingCatalogue()
{
    Harness h;
    QVERIFY(!fixture::createCatalogue(h.server.path(), "model", {}, {}).isEmpty());
    QVERIFY(!fixture::createCatalogue(h.server.path(), "OLDMIRKEL", {}, {}).isEmpty());
    h.writeHost(h.serverName());
    h.t.writeFile(QStringLiteral(" mirkeloption.txt"), kOptions);

    QVERIFY(h.window->Form_Load());
    QCOMPARE(h.list()->count(), 0);
    QVERIFY(!h.list()->isEnabled());
    QCOMPARE(h.child<QLineEdit>(QStringLiteral("txtNewDB"))->text(), QStringLiteral("Tab.txt"));
    QVERIFY(h.t.dialogs.shown.isEmpty());
}

void MainWindowTest::startWithUnreachableServer()
{
    Harness h;
    h.writeHost(QStringLiteral("sqlite:") + h.server.filePath(QStringLiteral("spento")));

    QVERIFY(h.window->Form_Load());
    QCOMPARE(h.t.dialogs.shown.size(), 1);
    const ShownMessage& shown = h.t.dialogs.shown[0];
    QCOMPARE(shown.icon, MsgIcon::Critical);
    QCOMPARE(shown.title, Dialogs::defaultTitle());
    QVERIFY(!shown.text.trimmed().isEmpty());
    QVERIFY(!shown.text.contains(QStringLiteral("userpw")));
    QCOMPARE(h.list()->count(), 0);
    QVERIFY(!h.list()->isEnabled());
    QVERIFY(h.window->isEnabled());
}

void MainWindowTest::loginRefusalShowsNoPassword_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("shown");

    QTest::newRow("password in the driver's text")
        << "S3gr3t;pw"
        << "Login failed for user 'mirkel' (PWD=S3gr3t;pw)."
        << "Login failed for user 'mirkel' (PWD=****).";
    QTest::newRow("password at both ends") << "abc"
                                           << "abc abc"
                                           << "**** ****";
    QTest::newRow("short password inside words stays")
        << "x"
        << "SQL Server does not exist or access denied."
        << "SQL Server does not exist or access denied.";
}

void MainWindowTest::loginRefusalShowsNoPassword()
{
    QFETCH(QString, password);
    QFETCH(QString, description);
    QFETCH(QString, shown);

    Harness h;
    h.standardServer();
    h.writeHost(h.serverName(), password);
    db::setFaultHook([description](const char* operation) -> Error {
        if (qstrcmp(operation, "open") == 0)
            return {ErrorNumber::LoginFailed, description};
        return {};
    });

    QVERIFY(h.window->Form_Load());
    QCOMPARE(h.t.dialogs.shown.size(), 1);
    QCOMPARE(h.t.dialogs.shown[0].icon, MsgIcon::Critical);
    QCOMPARE(h.t.dialogs.shown[0].text, shown);
    QCOMPARE(h.list()->count(), 0);
    QVERIFY(!h.list()->isEnabled());
}

void MainWindowTest::startGiveUp()
{
    Harness h;
    h.standardServer();
    QFile::remove(h.t.path(QStringLiteral("Mirkel.XML")));
    h.t.dialogs.folderAnswers = {h.server.path(), QStringLiteral("xxx")};

    QVERIFY(!h.window->Form_Load());
    QCOMPARE(h.t.dialogs.pickFolderCalls, 2);
    QCOMPARE(h.t.dialogs.shown.size(), 1);
    QVERIFY(h.t.dialogs.shown[0].text.startsWith(QStringLiteral(" Se non riusciamo")));
    QVERIFY(!h.window->isVisible());
    QVERIFY(h.mod.hostConfig.DBServerName.isEmpty());
    QCOMPARE(h.list()->count(), 0);
}

void MainWindowTest::startSurvivesAFailingHostSearch()
{
    TestPlatform scratch;
    FailingPickerDialogs dialogs(scratch.dialogs);
    Harness h(&dialogs);

    QVERIFY(h.window->Form_Load());
    QCOMPARE(scratch.dialogs.shown.size(), 1);
    QCOMPARE(scratch.dialogs.shown[0].icon, MsgIcon::Critical);
    QCOMPARE(scratch.dialogs.shown[0].text, QStringLiteral("Unità non pronta"));
    QVERIFY(h.window->isEnabled());
    QVERIFY(h.child(QStringLiteral("CmdUscita"))->isEnabled());
    QVERIFY(!h.list()->isEnabled());
}

void MainWindowTest::command2_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("message");
    QTest::newRow("distributor 069 present") << 0 << "Codice Fieg 069 trovato! IDDL=12";
    QTest::newRow("069 only on a non-distributor") << 1 << "Codice Fieg 069 non trovato!";
}

void MainWindowTest::command2()
{
    QFETCH(int, index);
    QFETCH(QString, message);
    Harness h;
    h.standardServer();
    QVERIFY(h.window->Form_Load());
    h.list()->setCurrentIndex(index);

    QTest::mouseClick(h.child<QAbstractButton>(QStringLiteral("Command2")), Qt::LeftButton);
    QCOMPARE(h.t.dialogs.shown.size(), 1);
    QCOMPARE(h.t.dialogs.shown[0].text, message);
    QCOMPARE(h.t.dialogs.shown[0].icon, MsgIcon::None);
    QCOMPARE(h.t.dialogs.shown[0].title, Dialogs::defaultTitle());
    QCOMPARE(h.t.dialogs.shown[0].buttons, MsgButtons::Ok);
}

void MainWindowTest::command2LogsAFailedLookup()
{
    Harness h;
    const QString file =
        fixture::createCatalogue(h.server.path(), "MIRKELVUOTO", fixture::standardSubjects(), {});
    QVERIFY(fixture::exec(file, QStringLiteral("DROP TABLE Soggetti")));
    h.writeHost(h.serverName());
    QVERIFY(h.window->Form_Load());

    h.window->Command2_Click();
    QCOMPARE(h.t.dialogs.texts(), QStringList{"Codice Fieg 069 non trovato!"});
    const QStringList log = h.t.logMessages();
    QCOMPARE(log.size(), 1);
    QVERIFY(log[0].contains(QStringLiteral("FIEGDLCodiceGet")));
}

void MainWindowTest::connectionStringFollowsTheList()
{
    Harness h;
    h.standardServer();
    QVERIFY(h.window->Form_Load());
    h.list()->setCurrentIndex(1);
    QCOMPARE(h.window->ConnectionString("srv", "u", "p"),
             QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=False;User ID=u;Password=p;"
                            "Initial Catalog= TELVORNORD;Data Source=srv"));
    QCOMPARE(h.window->FirstConnectionString("srv", "u", "p"),
             QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=False;User ID=u;Password=p;"
                            "Initial Catalog=master;Data Source=srv"));
    QCOMPARE(h.window->catalogue(), QStringLiteral("TELVORNORD"));
}

void MainWindowTest::viewReachesTheControls_data()
{
    QTest::addColumn<int>("label");
    QTest::addColumn<QString>("name");
    QTest::newRow("Label6") << int(ViewLabel::Label6) << "Label6";
    QTest::newRow("Label7") << int(ViewLabel::Label7) << "Label7";
    QTest::newRow("LabelFatti") << int(ViewLabel::LabelFatti) << "LabelFatti";
    QTest::newRow("LabelModificati") << int(ViewLabel::LabelModificati) << "LabelModificati";
}

void MainWindowTest::viewReachesTheControls()
{
    QFETCH(int, label);
    QFETCH(QString, name);
    Harness h;
    MainView& view = *h.window;
    const auto which = static_cast<ViewLabel>(label);

    view.setCaption(which, QStringLiteral("7 - Elaborati"));
    QCOMPARE(h.child<QLabel>(name)->text(), QStringLiteral("7 - Elaborati"));
    view.setLabelVisible(which, false);
    QVERIFY(h.child(name)->isHidden());
    view.setLabelVisible(which, true);
    QVERIFY(!h.child(name)->isHidden());

    view.setProgressMaximum(40);
    view.setProgressValue(10);
    QCOMPARE(h.child<QProgressBar>(QStringLiteral("ProgressBar2"))->maximum(), 40);
    QCOMPARE(h.child<QProgressBar>(QStringLiteral("ProgressBar2"))->value(), 10);
    QCOMPARE(h.child<QProgressBar>(QStringLiteral("ProgressBar1"))->value(), 0);
    view.setCommand1Enabled(false);
    view.setCloseEnabled(false);
    QVERIFY(!h.child(QStringLiteral("Command1"))->isEnabled());
    QVERIFY(!h.child(QStringLiteral("CmdUscita"))->isEnabled());
    QVERIFY(h.child(QStringLiteral("Command2"))->isEnabled());
    view.setWindowEnabled(false);
    QVERIFY(!h.window->isEnabled());
    QVERIFY(view.distributorOption(0));
    QVERIFY(!view.distributorOption(1));
}

void MainWindowTest::command1StartsTheRun()
{
    // The run works on the catalogue the list shows when the button is pressed.
    Harness h;
    h.standardServer();
    const QList<fixture::ProductRow> products = {
        {1, QStringLiteral("678"), QStringLiteral("a"), 12},
        {2, QStringLiteral("555"), QStringLiteral("b"), 12}};
    const QString mirkel = fixture::createCatalogue(h.server.path(), QStringLiteral("Mirkel2012"),
                                                    fixture::standardSubjects(), products);
    const QString telvor = fixture::createCatalogue(h.server.path(), QStringLiteral("telvorNord"),
                                                    fixture::standardSubjects(), products);
    h.t.writeFile(QStringLiteral("TabellaCodiciVarno.txt"), "900678\ttitolo\t678\t1\t\r\n");
    QVERIFY(h.window->Form_Load());
    h.list()->setCurrentIndex(h.entries().indexOf(QStringLiteral("TELVORNORD")));
    QTest::mouseClick(h.child<QAbstractButton>(QStringLiteral("Command1")), Qt::LeftButton);

    QCOMPARE(h.t.dialogs.texts(), QStringList{QStringLiteral("Procedura Completata")});
    QCOMPARE(
        fixture::select(telvor,
                        QStringLiteral("SELECT CodiceTestata, IDDL FROM Prodotti ORDER BY IDProd")),
        (QList<QVariantList>{{QStringLiteral("000900678"), 34}, {QStringLiteral("555"), 12}}));
    QCOMPARE(
        fixture::select(mirkel,
                        QStringLiteral("SELECT CodiceTestata, IDDL FROM Prodotti ORDER BY IDProd")),
        (QList<QVariantList>{{QStringLiteral("678"), 12}, {QStringLiteral("555"), 12}}));
    QCOMPARE(h.window->TabellaCodiciFile, h.t.path(QStringLiteral("TabellaCodiciVarno.txt")));
    QVERIFY(!h.window->isVisible());
}

void MainWindowTest::missingCodeReportUsesTheChosenCatalogue()
{
    Harness h;
    h.standardServer();
    fixture::createCatalogue(h.server.path(), QStringLiteral("telvorNord"),
                             fixture::standardSubjects(),
                             {{1, QStringLiteral("678"), QStringLiteral("presente"), 12},
                              {2, QStringLiteral("555"), QStringLiteral("mancante"), 12}});
    h.t.writeFile(QStringLiteral("tabella.txt"), "900678\ttitolo\t0678\t1\t\r\n");
    QVERIFY(h.window->Form_Load());
    h.list()->setCurrentIndex(h.entries().indexOf(QStringLiteral("TELVORNORD")));
    h.window->TabellaCodiciFile = h.t.path(QStringLiteral("tabella.txt"));

    QVERIFY(!h.window->ControllaCodiciNonPresentiNelFile().failed());
    QCOMPARE(h.t.readFile(QStringLiteral("CodiciMancanti/CodiciNonPresenti.txt")),
             QByteArray("555\xA7mancante \xA7\r\n"));
    QCOMPARE(h.child<QLabel>(QStringLiteral("LabelModificati"))->text(),
             QStringLiteral("1 - CodiciMancanti"));
    QCOMPARE(h.t.dialogs.texts(),
             QStringList{QStringLiteral("Aggiornamento CodiciProdotti Terminato")});
    QCOMPARE(h.t.shell.started.size(), 1);
}

void MainWindowTest::chiudiAndCloseBoxEndTheProgram_data()
{
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Chiudi") << false;
    QTest::newRow("close box") << true;
}

void MainWindowTest::chiudiAndCloseBoxEndTheProgram()
{
    QFETCH(bool, closeBox);
    Harness h;
    h.standardServer();
    QVERIFY(h.window->Form_Load());
    h.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));

    // The program's own event loop must end by itself once the window is gone.
    QTimer::singleShot(0, h.window.get(), [&h, closeBox] {
        if (closeBox)
            h.window->windowHandle()->close();
        else
            QTest::mouseClick(h.child<QAbstractButton>(QStringLiteral("CmdUscita")),
                              Qt::LeftButton);
    });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    guard.start(10000);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!h.window->isVisible());
    QVERIFY(h.t.dialogs.shown.isEmpty());
    QVERIFY(!QFile::exists(h.t.path(QStringLiteral(" mirkeloption.txt"))));
}

void MainWindowTest::closeBoxWaitsForTheWork_data()
{
    QTest::addColumn<bool>("report");
    QTest::newRow("conversion run") << false;
    QTest::newRow("missing-code report") << true;
}

void MainWindowTest::closeBoxWaitsForTheWork()
{
    QFETCH(bool, report);
    TestPlatform scratch;
    CloseRequestDialogs dialogs(scratch.dialogs);
    Harness h(&dialogs);
    h.standardServer();
    fixture::createCatalogue(h.server.path(), QStringLiteral("Mirkel2012"),
                             fixture::standardSubjects(),
                             {{1, QStringLiteral("678"), QStringLiteral("a"), 12}});
    h.t.writeFile(QStringLiteral("TabellaCodiciVarno.txt"), "900678\ttitolo\t678\t1\t\r\n");
    QVERIFY(h.window->Form_Load());
    h.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
    dialogs.window = h.window.get();

    // The close box is pressed as the first box of the work comes up.
    if (report) {
        h.window->TabellaCodiciFile = h.t.path(QStringLiteral("TabellaCodiciVarno.txt"));
        QVERIFY(!h.window->ControllaCodiciNonPresentiNelFile().failed());
        QCOMPARE(scratch.dialogs.texts(),
                 QStringList{QStringLiteral("Aggiornamento CodiciProdotti Terminato")});
    } else {
        QTest::mouseClick(h.child<QAbstractButton>(QStringLiteral("Command1")), Qt::LeftButton);
        // These dialogs show the numbers below the text, in the same box.
        QCOMPARE(scratch.dialogs.texts().size(), 1);
        QVERIFY(scratch.dialogs.texts()[0].startsWith(QStringLiteral("Procedura Completata\n")));
    }
    QVERIFY(dialogs.requested);
    QVERIFY(dialogs.visibleAfterRequest);
    // The run still closes the window at its end; the report leaves it open.
    QCOMPARE(h.window->isVisible(), report);
}

void MainWindowTest::waitLeavesOnlyChiudi()
{
    Harness h;
    h.standardServer();
    QVERIFY(h.window->Form_Load());
    MainView& view = *h.window;
    auto* chiudi = h.child<QAbstractButton>(QStringLiteral("CmdUscita"));
    auto* anteprima = h.child<QAbstractButton>(QStringLiteral("cmdAnteprima"));
    auto* ripristina = h.child<QAbstractButton>(QStringLiteral("cmdRipristina"));
    view.setWindowEnabled(false);
    view.showWait(QStringLiteral("In attesa"));
    QVERIFY(chiudi->isEnabled() && !h.list()->isEnabled() && !anteprima->isEnabled() &&
            !ripristina->isEnabled());
    // Chiudi asks the action to end; the window stays for it to finish.
    QTest::mouseClick(chiudi, Qt::LeftButton);
    QVERIFY(view.closeRequested());
    view.showWait(QString());
    QVERIFY(!h.window->isEnabled() && h.list()->isEnabledTo(h.window.get()) &&
            anteprima->isEnabledTo(h.window.get()) && ripristina->isEnabledTo(h.window.get()));
}

void MainWindowTest::progressBarWithNothingToMoveIsEmpty()
{
    Harness h;
    MainView& view = *h.window;
    auto* bar = h.child<QProgressBar>(QStringLiteral("ProgressBar2"));
    view.setProgressMaximum(0);
    view.setProgressValue(0);
    // Equal ends would make the bar busy.
    QVERIFY(bar->maximum() > bar->minimum());
    QCOMPARE(bar->value(), bar->minimum());
}

void MainWindowTest::salvaOpzioniRoundTrip()
{
    Harness h;
    h.standardServer();
    QVERIFY(h.window->Form_Load());
    h.child<QLineEdit>(QStringLiteral("txtDestinazione"))->setText(QStringLiteral("d:\\dati"));
    h.child<QLineEdit>(QStringLiteral("txtNewDB"))->setText(QStringLiteral("Tabella.txt"));
    h.window->CmdSalva_Click();
    QCOMPARE(h.t.dialogs.texts(), QStringList{"IMPOSTAZIONI SALVATE CON SUCCESSO! "});
    QCOMPARE(h.t.readFile(QStringLiteral(" mirkeloption.txt")),
             QByteArray("DESTINAZIONE= [d:\\dati]\r\nNOMEFILE= [Tabella.txt]\r\n"));

    EportaProdottiAlternativi again(h.platform, h.mod, h.log);
    again.configOption();
    QCOMPARE(again.findChild<QLineEdit*>(QStringLiteral("txtDestinazione"))->text(),
             QStringLiteral("d:\\dati"));
    QCOMPARE(again.findChild<QLineEdit*>(QStringLiteral("txtNewDB"))->text(),
             QStringLiteral("Tabella.txt"));
}

void MainWindowTest::controlloOpensTheDestination()
{
    CursorShell shell;
    Harness h(nullptr, &shell);
    shell.window = h.window.get();
    h.child<QLineEdit>(QStringLiteral("txtDestinazione"))->setText(QStringLiteral("/non/esiste"));

    h.window->CmdControllo_Click();
    QCOMPARE(shell.opened, QStringList{"/non/esiste"});
    QCOMPARE(shell.cursorWhileOpening, Qt::WaitCursor);
    QCOMPARE(h.window->cursor().shape(), Qt::ArrowCursor);
    QVERIFY(h.t.dialogs.shown.isEmpty());
}

void MainWindowTest::selezionaDestOnlySetsPickedFolder()
{
    Harness h;
    h.window->cmdSelezionaDest_Click();
    frmFolderSelect* picker = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (auto* p = qobject_cast<frmFolderSelect*>(top); p && p->isVisible())
            picker = p;
    }
    QVERIFY(picker);
    QVERIFY(!picker->isModal());
    QVERIFY(!picker->parentWidget());
    picker->cmdEsci_Click();
    QCOMPARE(h.mod.PickedFolder, QStringLiteral("xxx"));
    QCOMPARE(h.child<QLineEdit>(QStringLiteral("txtDestinazione"))->text(), kInitialDestinazione);
    QVERIFY(h.t.logMessages().isEmpty());
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
