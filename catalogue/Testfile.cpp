#include "Testfile.h"
#include "Texts.h"
#include "Variabili.h"

// The four loaders of the message catalogue. Each one overwrites all 24 slots,
// in slot order, with the texts of its language, and makes that language the
// one of the program's other texts (Texts). The slot texts are the system's
// own and are kept character for character, odd spacing and spelling included.

namespace Testfile {

using namespace Variabili;

void LoadFrench()
{
    Texts::setLanguage(Texts::Language::French);
    strTitle = QStringLiteral("Procédure de mise à jour Bios K410");
    strFraCom = QStringLiteral("Sélection de la porte sériel");
    strFramode = QStringLiteral("Sélection de la modalité");
    strStartBackUp = QStringLiteral("Start procès de backup + upgrade");
    strStartUpgr = QStringLiteral("Start procès de upgrade");
    strIstrCable = QStringLiteral("Relier le côté DB9 du câble sériel (vous devrez voir le schéma électrique) à la porte COM1 dans l'indicateur V410 et l'autre extrémité (DB9-25) à la porte sériel libre de PC. Appuyer sur Next");
    strIstrTest = QStringLiteral("Avec l'indicateur des cotés V410 allumé appuyer sur le bouton 'Test porte sériel' pour vérifier la porte de la liaison. Si le Bios actuel résulte endommagé ou manquant le programme demandera de positionner avec votre main la porte de la liaison.");
    strIstrPowerOff = QStringLiteral("Couper le preset K410 et enlever l'alimentateur de la prise de courant. Appuyer sur Next");
    strIstrMode = QStringLiteral("Sélectionner la function désirée. Backup + upgrade (conseillée) génère une copie de sauvetage de Bios existant et réalise le mise à jour. Upgrade installe le nouveau Bios (dans le cas que le Bios est endommagé ou manquant). Appuyer sur Next");
    strIstrStart = QStringLiteral("Appuyer sur start et insérer le nom de fichier BIOS.");
    strNoPort = QStringLiteral("Il est impossible reconnaître la porte sériel. Positionner avec la main la liaison");
    strLinking = QStringLiteral("Attente de la liaison avec K410 ...........");
    strBackUpActive = QStringLiteral("La liaison est active. Le backup Bios K410 commence");
    strBiosSaved = QStringLiteral("Le sauvetage bios est termine");
    strUpgrActive = QStringLiteral("La liaison est active. Le mise à jour de Bios K410 commence");
    strUpgrDone = QStringLiteral("Le mise à jour de Bios K410 est terminée. Sortir du programme");
    strTransferBroken = QStringLiteral("Le transfert des données est arrêté. Sortir et répéter la procédure");
    strPortTest = QStringLiteral("Test da la porte sériel");
    strConnected = QStringLiteral("K410 est relié à la porte Com");
    strSaveTitle = QStringLiteral("Choisir le parcours et le nom du fichier Backup");
    strOpenTitle = QStringLiteral("Sélectionner la version de Bios que vous voulez installer");
    strIstrPowerOn = QStringLiteral("Allumer le preset K410 et brancher l'alimentateur dans la prise de courant; sur l'écran aucune inscription ne ressortira pas. Attendre le temps nécessaire à la transmission des données; A' la fin le V410 s'allumera et montrera la nouvelle version du software installé");
    strFileDamaged = QStringLiteral("Le fichier sélectionné résulte endommagé.");
    strErasing = QStringLiteral("Attendre! Effacement Bios en cours.......");
}

void LoadGerman()
{
    Texts::setLanguage(Texts::Language::German);
    strTitle = QStringLiteral("Biosneubearbeitungprozess von K410");
    strFraCom = QStringLiteral("Reihentürauswahl");
    strFramode = QStringLiteral("Modalitaetauswahl");
    strStartBackUp = QStringLiteral("Backup + upgrade Startprozess");
    strStartUpgr = QStringLiteral("Upgrade Startprozess");
    strIstrCable = QStringLiteral("Verbinden Sie dieDB9 Seite vom reihen Kabel (schaue das elektrische Schema) mit der COM1 Tür im V410 Sichtgerät und die andere  Seite (DB9-25) mit der freien Reihentuer des Computers. Drücken Sie Next");
    strIstrTest = QStringLiteral("Mit dem eingeschalteten V410 Sichtgerät drücken Sie den  'Testreihentuer' Knopf, um die Verbindungstuer nachzuprüfen. Wenn das  aktuelle Bios als beschädigt oder als fehlend herausstellt, wird das Programm erfordern, die Verbindungstuer mit der Hand zu anlegen.");
    strIstrPowerOff = QStringLiteral("Schalten Sie den K410 Preset aus und nehmen den Speiser von der Steckdose ab. Drücken Sie Next");
    strIstrMode = QStringLiteral("Wählen Sie die erwünschte Funktion. Backup + upgrade (bedachtsam) schafft eine Rettungskopie vom bestehenden Bios und verwirklichen die Neubearbeitung. Upgrade einstallt das neue Bios (auf dem Fall, dass das Bios beschädigt oder fehlend ist). Drücken Sie Next");
    strIstrStart = QStringLiteral("Drücken Sie Start und fügen den Namen von BIOS File ein.");
    strNoPort = QStringLiteral("Das is unmöglich, die Reihentuer zu erkennen. Legen Sie mit der Hand die Verbindung an");
    strLinking = QStringLiteral("Warten Sie auf die Verbindung mit K410 ...........");
    strBackUpActive = QStringLiteral("Die Verbindung ist aktiv. Backup Bios K410 beginnt");
    strBiosSaved = QStringLiteral("Die BiosRettung ist beendet");
    strUpgrActive = QStringLiteral("Die Verbindung ist aktiv. Die Bios K410 Neubearbeitung beginnt");
    strUpgrDone = QStringLiteral("Die Bios K410 Neubearbeitung ist beendet. Gehen Sie aus dem Programm");
    strTransferBroken = QStringLiteral("Die Datenversetzung wird unterbrochen. Gehen Sie aus und wiederholen die Prozedur");
    strPortTest = QStringLiteral("Reihentürtest");
    strConnected = QStringLiteral("K410 wird mit der Com Tür verbunden");
    strSaveTitle = QStringLiteral("Wählen Sie den Weg und den Namen von Backup File");
    strOpenTitle = QStringLiteral("Wählen Sie die Bios Version zu installieren");
    strIstrPowerOn = QStringLiteral("Sollen Sie den K410 Preset einschalten und den Speisen in die Steckdose einfügen; keine Aufschrift wird aus dem Schirm erscheinen. Warten Sie auf die nötige Zeit, um die Daten mitzuteilen; Am Ende wird V410 eingeschaltet und die neue Version vom installierten Computer gezeigt");
    strFileDamaged = QStringLiteral("Das gewählte File stellt beschädigt heraus.");
    strErasing = QStringLiteral("Warten! Bios laufendes Löschen.......");
}

void LoadEnglish()
{
    Texts::setLanguage(Texts::Language::English);
    strTitle = QStringLiteral("Procedure to update Bios K410");
    strFraCom = QStringLiteral("Serial port selection");
    strFramode = QStringLiteral("Select upgrade method ");
    strStartBackUp = QStringLiteral("Start backup and upgrade process");
    strStartUpgr = QStringLiteral("Start upgrade process");
    strIstrCable = QStringLiteral("Connect the DB9 side of the serial cable (see PIN configuration diagram) to Com1 on the V410 presetter, the other side (DB9-25) to the available serial port on the PC. Click on Next");
    strIstrTest = QStringLiteral("With the V410 control panel turned ON, click on 'Serial port test' to verify the serial connection. If  the current Bios turns out to be damaged or missing, the program will ask the manual port connection");
    strIstrPowerOff = QStringLiteral("Turn off the K410 presetter by unplugging the unit from power source. Click on Next");
    strIstrMode = QStringLiteral("Select the desired function (Bios upgrade or Bios backup and upgrade, to save a copy of the existing Bios and to update Bios K410). Upgrade installs the new Bios (in case that Bios is damaged or missing. Click on Next");
    strIstrStart = QStringLiteral("Press the start button and input the name of BIOS file.");
    strNoPort = QStringLiteral("Impossible to recognize the serial port. Configure the connection manually");
    strLinking = QStringLiteral("Linking with K410 ...........");
    strBackUpActive = QStringLiteral("Connection active. Start Bios K410 backup");
    strBiosSaved = QStringLiteral("Bios saved");
    strUpgrActive = QStringLiteral("Connection active. Start Bios K410 upgrade");
    strUpgrDone = QStringLiteral("Bios K410 upgrade complete. Exit the program");
    strTransferBroken = QStringLiteral("Data transfer interrupted. Exit and repeat the procedure");
    strPortTest = QStringLiteral("Serial port test");
    strConnected = QStringLiteral("K410 connected to Com port");
    strSaveTitle = QStringLiteral("SELECT THE DIRECTORY AND THE NAME OF BACKUP FILE");
    strOpenTitle = QStringLiteral("SELECT THE BIOS RELEASE TO INSTALL.");
    strIstrPowerOn = QStringLiteral("Turn ON the V410 presetter by reconnecting it to the power supply; no writing will appear on the V410 screen. Monitor the transmission status to insure you do not interrupt the communication. At the end the V410 will turn on automatically stating the new Bios version installed");
    strFileDamaged = QStringLiteral("The selected file turns out to be damaged.");
    strErasing = QStringLiteral("Wait! Bios cancellation in process.......");
}

void LoadItalian()
{
    Texts::setLanguage(Texts::Language::Italian);
    strTitle = QStringLiteral("Procedura di aggiornamento Bios K410");
    strFraCom = QStringLiteral("Selezione porta seriale");
    strFramode = QStringLiteral("Selezione modalità");
    strStartBackUp = QStringLiteral("Start processo di backup + upgrade");
    strStartUpgr = QStringLiteral("Start processo di upgrade");
    strIstrCable = QStringLiteral("Connettere il lato DB9 del cavo seriale (vedi schema elettrico), alla porta COM1 nel visualizzatore V410 e l'altra estremita' (DB9-25) alla porta seriale libera del PC. Premere Next");
    strIstrTest = QStringLiteral("Con il visualizzatore V410 acceso premere il pulsante 'Test porta seriale' per verificare la porta di connessione. Se il Bios attuale risulta danneggiato o mancante il programma chiederà di impostare manualmente la porta di connessione.");
    strIstrPowerOff = QStringLiteral("Spegnere il preset K410 togliendo l'alimentatore dalla presa di corrente. Premere Next");
    strIstrMode = QStringLiteral("Selezionare la funzione desiderata. Backup + upgrade (consigliata) crea una copia di salvataggio del Bios esistente ed effettua l'aggiornamento. Upgrade installa il nuovo Bios (nel caso il Bios sia danneggiato o mancante). Premere Next");
    strIstrStart = QStringLiteral("Premere il pulsante di start e impostare il nome del file desiderato.");
    strNoPort = QStringLiteral("Impossibile riconoscere la porta seriale. Impostare manualmente la connessione");
    strLinking = QStringLiteral("Attesa collegamento con K410 ...........");
    strBackUpActive = QStringLiteral("Collegamento attivo. Inizia backup Bios K410");
    strBiosSaved = QStringLiteral("Salvataggio bios terminato");
    strUpgrActive = QStringLiteral("Collegamento attivo. Inizia aggiornamento Bios K410");
    strUpgrDone = QStringLiteral("Aggiornamento Bios K410 terminato. Uscire dal programma");
    strTransferBroken = QStringLiteral("Trasferimento dati interrotto. Uscire e ripetere la procedura");
    strPortTest = QStringLiteral("Test porta seriale");
    strConnected = QStringLiteral("K410 connesso alla porta Com");
    strSaveTitle = QStringLiteral("Scegli il percorso e il nome del file di Backup");
    strOpenTitle = QStringLiteral("Seleziona la versione del Bios che vuoi installare");
    strIstrPowerOn = QStringLiteral("Accendere il preset K410 inserendo l'alimentatore nella presa di corrente; sullo schermo non apparirà alcuna scritta. Attendere il tempo necessario alla trasmissione dei dati; al termine V410 si accenderà mostrando la nuova versione del software installato");
    strFileDamaged = QStringLiteral("Il file selezionato risulta danneggiato.");
    strErasing = QStringLiteral("Attendere! Cancellazione Bios in corso.......");
}

} // namespace Testfile
