#include "Texts.h"

#include <iterator>

namespace Texts {

namespace {

/// One text in the four languages, in the order of Language.
struct Entry
{
    Key key;
    const char *words[kLanguageCount]; // UTF-8
};

// In key order; the compiler checks that every key has its row, in place.
constexpr Entry kTable[] = {
    {Key::KindFolder, {"un dossier", "ein Ordner", "a folder", "una cartella"}},
    {Key::KindPipe, {"un tube (pipe)", "eine Pipe", "a pipe", "una pipe"}},
    {Key::KindDevice, {"un périphérique", "ein Gerät", "a device", "un dispositivo"}},
    {Key::KindSocket, {"un socket", "ein Socket", "a socket", "un socket"}},
    {Key::KindLink, {"un lien", "eine Verknüpfung", "a link", "un collegamento"}},
    {Key::KindSpecial, {"un fichier spécial", "eine Sonderdatei", "a special file", "un file speciale"}},
    {Key::KindFile, {"un fichier", "eine Datei", "a file", "un file"}},
    {Key::UserNumber, {"utilisateur %1", "Benutzer %1", "user %1", "utente %1"}},
    {Key::UnknownPlace, {"un endroit inconnu", "ein unbekannter Ort", "an unknown place", "un luogo sconosciuto"}},

    {Key::DiskFull, {"le disque est plein", "der Datenträger ist voll", "the disk is full", "il disco è pieno"}},
    {Key::QuotaUsedUp,
     {"le quota du disque est épuisé", "das Speicherkontingent ist aufgebraucht", "the disk quota is used up",
      "la quota del disco è esaurita"}},
    {Key::FileTooLargeForDisk,
     {"le fichier dépasse la taille permise par ce disque ou le système",
      "die Datei ist größer, als dieser Datenträger oder das System erlaubt",
      "the file is larger than this disk or the system allows",
      "il file è più grande di quanto consentono questo disco o il sistema"}},
    {Key::PermissionDenied, {"accès refusé", "Zugriff verweigert", "permission denied", "accesso negato"}},
    {Key::DiskReadOnly,
     {"le disque est en lecture seule", "der Datenträger ist schreibgeschützt", "the disk is read-only",
      "il disco è di sola lettura"}},
    {Key::FolderMissing,
     {"le dossier n'existe pas", "der Ordner existiert nicht", "the folder does not exist", "la cartella non esiste"}},
    {Key::FileMissing,
     {"le fichier n'existe pas", "die Datei existiert nicht", "the file does not exist", "il file non esiste"}},
    {Key::PathPartNotFolder,
     {"une partie du chemin n'est pas un dossier", "ein Teil des Pfads ist kein Ordner",
      "a part of the path is not a folder", "una parte del percorso non è una cartella"}},
    {Key::ItIsFolder, {"c'est un dossier", "es ist ein Ordner", "it is a folder", "è una cartella"}},
    {Key::NameTooLong, {"le nom est trop long", "der Name ist zu lang", "the name is too long", "il nome è troppo lungo"}},
    {Key::LinkLoop,
     {"le nom mène à une boucle de liens", "der Name führt in eine Schleife von Verknüpfungen",
      "the name leads round a loop of links", "il nome porta a un ciclo di collegamenti"}},
    {Key::DiskIoFailure,
     {"le disque a signalé une erreur de lecture ou d'écriture", "der Datenträger meldet einen Lese- oder Schreibfehler",
      "the disk reported a read or write failure", "il disco ha segnalato un errore di lettura o di scrittura"}},
    {Key::InUse, {"il est en cours d'utilisation", "es wird gerade benutzt", "it is in use", "è in uso"}},
    {Key::InUseByOther,
     {"il est utilisé par un autre programme", "es wird von einem anderen Programm benutzt",
      "it is in use by another program", "è in uso da parte di un altro programma"}},
    {Key::NameTaken,
     {"un autre fichier est apparu sous ce nom", "unter diesem Namen ist eine andere Datei aufgetaucht",
      "another file appeared at that name", "è comparso un altro file con quel nome"}},
    {Key::NoDeviceAnswers,
     {"aucun périphérique ne répond à ce nom", "unter diesem Namen antwortet kein Gerät",
      "no device answers at that name", "nessun dispositivo risponde a quel nome"}},
    {Key::TooManyFiles,
     {"trop de fichiers sont ouverts", "es sind zu viele Dateien geöffnet", "too many files are open",
      "ci sono troppi file aperti"}},
    {Key::ShareLostFile,
     {"le partage réseau a perdu la trace du fichier", "die Netzwerkfreigabe findet die Datei nicht mehr",
      "the network share lost track of the file", "la condivisione di rete ha perso traccia del file"}},
    {Key::NoReasonGiven,
     {"le système n'a donné aucune raison", "das System hat keinen Grund genannt", "the system gave no reason",
      "il sistema non ha indicato il motivo"}},
    {Key::SystemError,
     {"le système a signalé une erreur", "das System meldet einen Fehler", "the system reported an error",
      "il sistema ha segnalato un errore"}},
    {Key::PartialWrite,
     {"le système n'a pris qu'une partie des données", "das System hat nur einen Teil der Daten angenommen",
      "the system took only part of the data", "il sistema ha accettato solo una parte dei dati"}},

    {Key::ReasonThenWhat, {"%1 : %2", "%1: %2", "%1: %2", "%1: %2"}},
    {Key::InFolder, {"dans le dossier %1", "im Ordner %1", "in the folder %1", "nella cartella %1"}},

    {Key::ImageNoName,
     {"Aucun nom de fichier indiqué : impossible d'ouvrir le fichier firmware",
      "Kein Dateiname angegeben: die Firmware-Datei kann nicht geöffnet werden",
      "No file name was given: cannot open the image file",
      "Nessun nome di file indicato: impossibile aprire il file firmware"}},
    {Key::CannotUseAsImage,
     {"impossible d'utiliser %1 comme fichier firmware", "%1 ist als Firmware-Datei nicht verwendbar",
      "cannot use %1 as an image file", "impossibile usare %1 come file firmware"}},
    {Key::CannotOpenImage,
     {"impossible d'ouvrir le fichier firmware %1", "die Firmware-Datei %1 kann nicht geöffnet werden",
      "cannot open the image file %1", "impossibile aprire il file firmware %1"}},
    {Key::NotFileOnDisk,
     {"c'est %1, pas un fichier sur un disque", "es ist %1, keine Datei auf einem Datenträger",
      "it is %1, not a file on a disk", "è %1, non un file su disco"}},
    {Key::LinkNotFollowed,
     {"c'est un lien, qui n'est pas suivi (choisissez le fichier vers lequel il mène)",
      "es ist eine Verknüpfung, der nicht gefolgt wird (wählen Sie die Datei, auf die sie zeigt)",
      "it is a link, which is not followed (choose the file it leads to)",
      "è un collegamento, che non viene seguito (scegliere il file a cui porta)"}},
    {Key::ImageTooLarge,
     {"il dépasse %1 Mio, alors qu'un firmware K410 fait environ 80 Ko",
      "die Datei ist größer als %1 MiB, eine K410-Firmware hat nur etwa 80 KB",
      "it is larger than %1 MiB, and a K410 firmware image is about 80 KB",
      "è più grande di %1 MiB, mentre un firmware K410 è di circa 80 KB"}},
    {Key::EndsBeforeEndRecord,
     {"le fichier se termine avant son enregistrement de fin", "die Datei endet vor ihrem Schlussdatensatz",
      "the file ends before its end record", "il file termina prima del suo record finale"}},
    {Key::EndsBeforeTrailer,
     {"le fichier se termine avant ses 4 octets de clôture", "die Datei endet vor ihren 4 Abschlussbytes",
      "the file ends before the 4 bytes of its trailer", "il file termina prima dei suoi 4 byte di chiusura"}},
    {Key::PastEndOfFile,
     {"lecture au-delà de la fin du fichier %1", "Lesen über das Ende der Datei %1 hinaus",
      "input past end of file %1", "lettura oltre la fine del file %1"}},

    {Key::NoWorkingFolder,
     {"Aucun dossier personnel disponible : impossible de créer le fichier de travail k410.bak",
      "Kein eigener Ordner des Benutzers verfügbar: die Arbeitsdatei k410.bak kann nicht angelegt werden",
      "No per-user folder is available: cannot create the working file k410.bak",
      "Nessuna cartella personale disponibile: impossibile creare il file di lavoro k410.bak"}},
    {Key::WorkFolderIsLink,
     {"le dossier %1 est un lien, et le fichier de travail n'est gardé que dans un vrai dossier de cet utilisateur",
      "der Ordner %1 ist eine Verknüpfung, und die Arbeitsdatei liegt nur in einem echten Ordner dieses Benutzers",
      "the folder %1 is a link, and the working file is only kept in a real folder of this user",
      "la cartella %1 è un collegamento, e il file di lavoro si tiene solo in una vera cartella di questo utente"}},
    {Key::FolderOfOtherUser,
     {"le dossier %1 appartient à un autre utilisateur (%2)", "der Ordner %1 gehört einem anderen Benutzer (%2)",
      "the folder %1 belongs to another user (%2)", "la cartella %1 appartiene a un altro utente (%2)"}},
    {Key::FolderNotPrivate,
     {"le dossier %1 est ouvert aux autres utilisateurs, et un dossier que ce programme n'a pas créé reste tel quel "
      "(rendez-le privé ou supprimez-le)",
      "der Ordner %1 ist für andere Benutzer offen, und einen Ordner, den dieses Programm nicht angelegt hat, lässt es "
      "unverändert (machen Sie ihn privat oder entfernen Sie ihn)",
      "the folder %1 is open to other users, and a folder this program did not make is left as it is (make it "
      "private or remove it)",
      "la cartella %1 è aperta ad altri utenti, e una cartella non creata da questo programma resta com'è (renderla "
      "privata o rimuoverla)"}},
    {Key::InTheWay, {"%1 occupe la place", "%1 steht im Weg", "%1 is in the way", "%1 occupa il posto"}},
    {Key::IsNotFolder, {"%1 est %2, pas un dossier", "%1 ist %2, kein Ordner", "%1 is %2, not a folder",
                        "%1 è %2, non una cartella"}},
    {Key::CannotCreateWorkingFile,
     {"impossible de créer le fichier de travail %1", "die Arbeitsdatei %1 kann nicht angelegt werden",
      "cannot create the working file %1", "impossibile creare il file di lavoro %1"}},
    {Key::CannotWriteWorkingFile,
     {"impossible d'écrire le fichier de travail %1", "die Arbeitsdatei %1 kann nicht geschrieben werden",
      "cannot write the working file %1", "impossibile scrivere il file di lavoro %1"}},

    {Key::SaveNoName,
     {"Aucun nom de fichier indiqué : impossible d'enregistrer la sauvegarde",
      "Kein Dateiname angegeben: die Sicherung kann nicht gespeichert werden",
      "No file name was given: cannot save the backup",
      "Nessun nome di file indicato: impossibile salvare il backup"}},
    {Key::FolderDoesNotExist,
     {"le dossier %1 n'existe pas", "der Ordner %1 existiert nicht", "the folder %1 does not exist",
      "la cartella %1 non esiste"}},
    {Key::FileReadOnly,
     {"le fichier est en lecture seule", "die Datei ist schreibgeschützt", "the file is read-only",
      "il file è di sola lettura"}},
    {Key::ForeignLink,
     {"c'est un lien qu'un autre utilisateur (%1) a créé dans un dossier où tout le monde peut écrire, et qui mène à "
      "%2 ; un tel lien n'est pas suivi (choisissez un autre nom, ou le fichier vers lequel il mène)",
      "es ist eine Verknüpfung, die ein anderer Benutzer (%1) in einem für alle beschreibbaren Ordner angelegt hat und "
      "die auf %2 zeigt; einer solchen Verknüpfung wird nicht gefolgt (wählen Sie einen anderen Namen oder die Datei, "
      "auf die sie zeigt)",
      "it is a link that another user (%1) made in a folder everyone may write to, leading to %2; such a link is not "
      "followed (choose another name, or the file it leads to)",
      "è un collegamento creato da un altro utente (%1) in una cartella in cui tutti possono scrivere, e porta a %2; "
      "un collegamento così non viene seguito (scegliere un altro nome, o il file a cui porta)"}},
    {Key::CannotSaveBackup,
     {"impossible d'enregistrer la sauvegarde dans %1", "die Sicherung kann nicht unter %1 gespeichert werden",
      "cannot save the backup to %1", "impossibile salvare il backup in %1"}},
    {Key::KeptInWorkingFile,
     {"La sauvegarde lue dans l'unité est conservée dans le fichier de travail %1",
      "Die aus dem Gerät gelesene Sicherung liegt in der Arbeitsdatei %1",
      "The backup read from the unit is kept in the working file %1",
      "Il backup letto dall'unità è conservato nel file di lavoro %1"}},
    {Key::KeptNowhere,
     {"La copie de travail n'a pas pu être écrite non plus (%1), la sauvegarde lue dans l'unité n'est donc conservée "
      "nulle part : refaites la sauvegarde",
      "Auch die Arbeitskopie konnte nicht geschrieben werden (%1), die aus dem Gerät gelesene Sicherung ist also "
      "nirgends gespeichert: führen Sie die Sicherung noch einmal aus",
      "The working copy could not be written either (%1), so the backup read from the unit is kept nowhere: run the "
      "backup again",
      "Anche la copia di lavoro non è stata scritta (%1), quindi il backup letto dall'unità non è conservato da "
      "nessuna parte: ripetere il backup"}},
    {Key::NotOpened,
     {"le fichier n'a pas été ouvert", "die Datei wurde nicht geöffnet", "the file was not opened",
      "il file non è stato aperto"}},
    {Key::CannotReadBack,
     {"impossible de relire la sauvegarde enregistrée %1", "die gespeicherte Sicherung %1 kann nicht zurückgelesen werden",
      "cannot read back the saved backup %1", "impossibile rileggere il backup salvato %1"}},
    {Key::SavedDiffers,
     {"La sauvegarde enregistrée %1 diffère de celle lue dans l'unité",
      "Die gespeicherte Sicherung %1 weicht von der aus dem Gerät gelesenen ab",
      "The saved backup %1 differs from the backup read from the unit",
      "Il backup salvato %1 è diverso da quello letto dall'unità"}},
    {Key::FolderMoved,
     {"Le dossier %1 a été déplacé ou remplacé pendant la lecture de la sauvegarde : la sauvegarde a été enregistrée "
      "dans le dossier choisi, qui se trouve maintenant à %2",
      "Der Ordner %1 wurde verschoben oder ersetzt, während die Sicherung gelesen wurde: die Sicherung wurde im "
      "gewählten Ordner gespeichert, der jetzt unter %2 liegt",
      "The folder %1 was moved or replaced while the backup was read: the backup was saved in the folder that was "
      "chosen, now at %2",
      "La cartella %1 è stata spostata o sostituita durante la lettura del backup: il backup è stato salvato nella "
      "cartella scelta, che ora si trova in %2"}},
    {Key::SavedFromMemory,
     {"La sauvegarde a été enregistrée dans %1 depuis la mémoire", "Die Sicherung wurde aus dem Speicher unter %1 gespeichert",
      "The backup was saved to %1 from memory", "Il backup è stato salvato in %1 dalla memoria"}},

    {Key::AnswersOutOfStep,
     {"La mise à jour ne peut pas être considérée comme terminée : l'unité a encore répondu après avoir accepté le "
      "dernier enregistrement, ses réponses étaient donc décalées par rapport aux enregistrements envoyés. Relancez la "
      "mise à jour",
      "Das Upgrade gilt nicht als abgeschlossen: das Gerät hat nach dem letzten angenommenen Datensatz noch einmal "
      "geantwortet, seine Antworten passten also nicht zu den gesendeten Datensätzen. Starten Sie das Upgrade erneut",
      "The upgrade cannot be counted complete: the unit answered again after accepting the last record, so its "
      "answers were out of step with the records sent. Start the upgrade again",
      "L'aggiornamento non può dirsi completato: l'unità ha risposto ancora dopo aver accettato l'ultimo record, "
      "quindi le sue risposte non corrispondevano ai record inviati. Ripetere l'aggiornamento"}},

    {Key::DeviceLostEvent,
     {"Périphérique perdu : le périphérique série a disparu (adaptateur débranché, ou ligne fermée à l'autre bout)",
      "Gerät verloren: das serielle Gerät ist verschwunden (Adapter abgezogen oder Leitung am anderen Ende geschlossen)",
      "Device lost: the serial device went away (adapter unplugged, or the line closed at its far end)",
      "Dispositivo perso: il dispositivo seriale è scomparso (adattatore scollegato, o linea chiusa all'altro capo)"}},
    {Key::InvalidPropertyValue,
     {"Valeur de propriété non valide", "Ungültiger Eigenschaftswert", "Invalid property value",
      "Valore della proprietà non valido"}},
    {Key::PortOpenSelectOther,
     {"Port déjà ouvert : %1 est ouvert ; fermez-le avant de choisir le port %2",
      "Port bereits geöffnet: %1 ist offen; schließen Sie ihn, bevor Sie Port %2 wählen",
      "Port already open: %1 is open; close it before selecting port %2",
      "Porta già aperta: %1 è aperta; chiuderla prima di scegliere la porta %2"}},
    {Key::InvalidPortNumber,
     {"Numéro de port non valide : %1 (ports COM1 à COM4 seulement)", "Ungültige Portnummer: %1 (nur die Ports COM1 bis COM4)",
      "Invalid port number: %1 (ports COM1 to COM4 only)", "Numero di porta non valido: %1 (solo le porte da COM1 a COM4)"}},
    {Key::CommStateRefused,
     {"Impossible de régler la liaison : %1 refuse %2 (%3)", "Verbindung nicht einstellbar: %1 nimmt %2 nicht an (%3)",
      "Could not set comm state: %1 refuses %2 (%3)", "Impossibile impostare la comunicazione: %1 rifiuta %2 (%3)"}},
    {Key::PortAlreadyOpen,
     {"Port déjà ouvert : %1", "Port bereits geöffnet: %1", "Port already open: %1", "Porta già aperta: %1"}},
    {Key::NoDeviceForPort,
     {"Numéro de port non valide : aucun périphérique série pour %1", "Ungültige Portnummer: kein serielles Gerät für %1",
      "Invalid port number: no serial device for %1", "Numero di porta non valido: nessun dispositivo seriale per %1"}},
    {Key::PortPermission,
     {"Accès refusé : cet utilisateur ne peut pas ouvrir %1 (sous Linux, il faut être membre du groupe dialout)",
      "Zugriff verweigert: dieser Benutzer darf %1 nicht öffnen (unter Linux muss er Mitglied der Gruppe dialout sein)",
      "Permission denied: this user may not open %1 (on Linux, membership of the dialout group is needed)",
      "Accesso negato: questo utente non può aprire %1 (su Linux deve far parte del gruppo dialout)"}},
    {Key::StalePortLock,
     {"Verrou de port périmé : %1 est verrouillé par %2, laissé par un programme qui s'est terminé : supprimez %2 en "
      "tant que root",
      "Veraltete Port-Sperre: %1 ist durch %2 gesperrt, eine Sperrdatei, die ein beendetes Programm hinterlassen hat: "
      "entfernen Sie %2 als root",
      "Stale port lock: %1 is locked by %2, left by a program that has ended: remove %2 as root",
      "Blocco della porta rimasto: %1 è bloccata da %2, un file lasciato da un programma terminato: rimuovere %2 "
      "come root"}},
    {Key::PortInUseReason,
     {"Port déjà ouvert : %1 est utilisé par un autre programme (%2)",
      "Port bereits geöffnet: %1 wird von einem anderen Programm benutzt (%2)",
      "Port already open: %1 is in use by another program (%2)",
      "Porta già aperta: %1 è usata da un altro programma (%2)"}},
    {Key::NotSerialDevice,
     {"Numéro de port non valide : %1 n'est pas un périphérique série (%2)",
      "Ungültige Portnummer: %1 ist kein serielles Gerät (%2)",
      "Invalid port number: %1 is not a serial device (%2)",
      "Numero di porta non valido: %1 non è un dispositivo seriale (%2)"}},
    {Key::CannotOpenAsSerial,
     {"Numéro de port non valide : %1 ne peut pas être ouvert comme port série (%2)",
      "Ungültige Portnummer: %1 lässt sich nicht als serieller Port öffnen (%2)",
      "Invalid port number: %1 cannot be opened as a serial port (%2)",
      "Numero di porta non valido: %1 non può essere aperta come porta seriale (%2)"}},
    {Key::PortInUseLocked,
     {"Port déjà ouvert : %1 est utilisé par un autre programme, ou par celui-ci sous un autre nom du même périphérique",
      "Port bereits geöffnet: %1 wird von einem anderen Programm benutzt oder von diesem unter einem anderen Namen "
      "desselben Geräts",
      "Port already open: %1 is in use by another program, or by this one under another name of the same device",
      "Porta già aperta: %1 è usata da un altro programma, o da questo con un altro nome dello stesso dispositivo"}},
    {Key::PortNotOpen,
     {"Opération possible seulement quand le port est ouvert : %1 sur %2",
      "Vorgang nur bei geöffnetem Port möglich: %1 an %2",
      "Operation valid only when the port is open: %1 on %2",
      "Operazione valida solo con la porta aperta: %1 su %2"}},
    {Key::DeviceWentAway,
     {"Périphérique perdu : %1 a disparu pendant qu'il était ouvert (%2)",
      "Gerät verloren: %1 ist im geöffneten Zustand verschwunden (%2)",
      "Device lost: %1 went away while open (%2)",
      "Dispositivo perso: %1 è scomparso mentre era aperto (%2)"}},
    {Key::NoSerialDevice,
     {"%1 : aucun périphérique série", "%1: kein serielles Gerät", "%1: no serial device",
      "%1: nessun dispositivo seriale"}},

    {Key::NotAvailable, {"Non disponible : %1", "Nicht verfügbar: %1", "Not available: %1", "Non disponibile: %1"}},
    {Key::FaultAbsent, {"absent", "nicht vorhanden", "absent", "assente"}},
    {Key::FaultInUse,
     {"occupé par un autre programme", "von einem anderen Programm belegt", "held by another program",
      "occupata da un altro programma"}},
    {Key::FaultOther, {"inutilisable", "nicht verwendbar", "could not be used", "non utilizzabile"}},

    {Key::ReplaceFile,
     {"%1 existe déjà.\nVoulez-vous le remplacer ?", "%1 ist bereits vorhanden.\nMöchten Sie die Datei ersetzen?",
      "%1 already exists.\nDo you want to replace it?", "%1 esiste già.\nVuoi sostituirlo?"}},
    {Key::ReplaceLinkToNothing,
     {"%1 est un lien vers %2, qui n'existe pas.\nEnregistrer ici crée %2. Voulez-vous enregistrer ici ?",
      "%1 ist eine Verknüpfung auf %2, dort gibt es noch nichts.\nSpeichern legt %2 an. Möchten Sie dort speichern?",
      "%1 is a link to %2, which does not exist.\nSaving there creates %2. Do you want to save there?",
      "%1 è un collegamento a %2, che non esiste.\nSalvando lì si crea %2. Vuoi salvare lì?"}},
    {Key::ReplaceLink,
     {"%1 est un lien vers %2.\nEnregistrer ici remplace %2. Voulez-vous le remplacer ?",
      "%1 ist eine Verknüpfung auf %2.\nSpeichern ersetzt %2. Möchten Sie die Datei ersetzen?",
      "%1 is a link to %2.\nSaving there replaces %2. Do you want to replace it?",
      "%1 è un collegamento a %2.\nSalvando lì si sostituisce %2. Vuoi sostituirlo?"}},
    {Key::Yes, {"Oui", "Ja", "Yes", "Sì"}},
    {Key::No, {"Non", "Nein", "No", "No"}},
    {Key::CancelSelected,
     {"Vous avez choisi Annuler", "Abbrechen wurde gewählt", "Cancel was selected", "È stato scelto Annulla"}},
    {Key::ChosenNameTooLong,
     {"Le nom de fichier choisi dépasse %1 caractères : %2", "Der gewählte Dateiname ist länger als %1 Zeichen: %2",
      "The chosen file name is longer than %1 characters: %2", "Il nome di file scelto supera %1 caratteri: %2"}},
};

static_assert(std::size(kTable) == std::size_t(kKeyCount), "every key needs its row in the table");

constexpr bool inKeyOrder()
{
    for (int i = 0; i < kKeyCount; ++i) {
        if (kTable[i].key != Key(i))
            return false;
    }
    return true;
}
static_assert(inKeyOrder(), "the rows of the table must follow the order of Key");

Language g_language = Language::English;

} // namespace

void setLanguage(Language language)
{
    g_language = language;
}

Language language()
{
    return g_language;
}

QString text(Key key)
{
    return text(key, g_language);
}

QString text(Key key, Language language)
{
    const int k = int(key), l = int(language);
    if (k < 0 || k >= kKeyCount || l < 0 || l >= kLanguageCount)
        return {};
    return QString::fromUtf8(kTable[k].words[l]);
}

} // namespace Texts
