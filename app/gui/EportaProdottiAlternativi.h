#pragma once

#include "db/Database.h"
#include "platform/Error.h"
#include "platform/MainView.h"

#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>
#include <optional>

class ErrorLog;
class QCloseEvent;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
struct Mod;
struct Platform;

// The main window and the program's only driver: start-up, the database chooser and the
// buttons. The work behind the buttons lives in app/core, db/ and conversion/.
class EportaProdottiAlternativi : public QWidget, public MainView
{
    Q_OBJECT

public:
    // platform, mod and log must outlive the window.
    EportaProdottiAlternativi(const Platform& platform, Mod& mod, ErrorLog& log,
                              QWidget* parent = nullptr);

    // Start-up. Returns false when the operator gave up looking for the host: the window
    // has then been unloaded and the program ends.
    bool Form_Load();

    void Command1_Click();
    // The conversion's preview: the same reading of the catalogue, nothing changed.
    void Anteprima_Click();
    void Ripristina_Click();
    void Command2_Click();
    void CmdUscita_Click();
    void CmdSalva_Click();
    void cmdSelezionaDest_Click();
    void CmdControllo_Click();

    // Reads the options file into txtDestinazione and txtNewDB.
    void configOption();
    // Fills cboDatabase with the server's MIRKEL and TELVOR catalogues. Connection errors
    // come back to the caller; the list is then left as it was.
    Error DataBaseList(QComboBox& cboDatabase, const QString& DBServerName,
                       const QString& DBAdminUserName, const QString& DBAdminPassword);
    // Writes the missing-code report for the catalogue cboAziende shows and starts the
    // host's companion tool. No control starts it. A failure to connect reaches the caller.
    Error ControllaCodiciNonPresentiNelFile();
    // IDProd of the first product with the title code on the caller's connection.
    Error getIDProdCodTestata(db::Connection& cn, qint32 CodiceTestata, qint32& id);
    // wait hears the look-up's waits for a held catalogue; none: a wait just blocks.
    QString FIEGDLCodiceGet(const QString& FIEGDL, db::LockWait* wait = nullptr);
    QString FirstConnectionString(const QString& Server, const QString& Username,
                                  const QString& Password) const;
    // The catalogue is what cboAziende shows at the moment of the call.
    QString ConnectionString(const QString& Server, const QString& Username,
                             const QString& Password) const;

    // The code table the conversion run last used.
    QString TabellaCodiciFile;

    // MainView
    QString catalogue() const override;
    bool distributorOption(int index) const override;
    void setCaption(ViewLabel label, const QString& text) override;
    void setLabelVisible(ViewLabel label, bool visible) override;
    void setProgressMaximum(int maximum) override;
    void setProgressValue(int value) override;
    void setCommand1Enabled(bool enabled) override;
    void setCloseEnabled(bool enabled) override;
    void setWindowEnabled(bool enabled) override;
    void unloadWindow() override;
    void pumpEvents() override;
    void showWait(const QString& text) override;
    bool closeRequested() const override { return closeRequested_; }

protected:
    // The close box does nothing while the run or the report works: they go on with the
    // window and their boxes need it as their parent.
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    QLabel* viewLabel(ViewLabel label) const;
    QString withoutPassword(QString text) const;

    const Platform& platform_;
    Mod& mod_;
    ErrorLog& log_;
    bool working_ = false;        // the run or the report is under way
    bool unloading_ = false;      // the window closes itself: unloadWindow()
    bool closeRequested_ = false; // Chiudi pressed during a wait of the action under way
    QString hostConfigTrouble_;   // what is wrong with Mirkel.XML; empty when it was read
    // The window as it was before a wait: showWait() puts it back.
    struct BeforeWait
    {
        QString caption;
        bool captionVisible = false;
        QRect captionGeometry;
        QFont captionFont;
        bool windowEnabled = false;
        QList<QPair<QWidget*, bool>> controls;
    };
    std::optional<BeforeWait> beforeWait_;

    QGroupBox* Frame4;
    QGroupBox* Frame3;
    QRadioButton* OptionDistributore[2];
    QPushButton* CmdControllo;
    QPushButton* CmdSalva;
    QPushButton* CmdUscita;
    QPushButton* Command1;
    QPushButton* cmdSelezionaDest;
    QLineEdit* txtNewDB;
    QComboBox* cboAziende;
    QProgressBar* ProgressBar1;
    QLabel* Label8;
    QLabel* Label7;
    QPushButton* Command2;
    QPushButton* cmdAnteprima;
    QPushButton* cmdRipristina;
    QProgressBar* ProgressBar2;
    QLabel* Label6;
    QLabel* LabelFatti;
    QLabel* LabelModificati;
    QLineEdit* txtDestinazione;
    QLabel* Label1;
    QLabel* Label5;
    QLabel* Label4[2];
    QLabel* Label3[2];
    QLabel* Label2;
};
