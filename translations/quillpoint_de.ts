<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>GnomeKeybindingGrabber</name>
    <message>
        <source>Set in GNOME&apos;s keyboard settings</source>
        <translation>In den Tastatureinstellungen von GNOME festgelegt</translation>
    </message>
</context>
<context>
    <name>quill::APIError</name>
    <message>
        <source>Invalid API URL: %1</source>
        <translation>Ungültige API-Adresse: %1</translation>
    </message>
    <message>
        <source>Cannot connect to server. Is the backend running?</source>
        <translation>Keine Verbindung zum Server. Läuft das Backend?</translation>
    </message>
    <message>
        <source>Network error: %1</source>
        <translation>Netzwerkfehler: %1</translation>
    </message>
    <message>
        <source>Server error: %1</source>
        <translation>Serverfehler: %1</translation>
    </message>
    <message>
        <source>Please sign in to continue</source>
        <translation>Bitte melden Sie sich an, um fortzufahren</translation>
    </message>
    <message>
        <source>Daily limit reached. Try again tomorrow.</source>
        <translation>Tageslimit erreicht. Versuchen Sie es morgen wieder.</translation>
    </message>
    <message>
        <source>Connection refused. Start the backend: cd backend &amp;&amp; npm run dev</source>
        <translation>Verbindung abgelehnt. Starten Sie das Backend: cd backend &amp;&amp; npm run dev</translation>
    </message>
</context>
<context>
    <name>quill::AccountPreferencesView</name>
    <message>
        <source>Your data is processed securely. We don&apos;t store your text.</source>
        <translation>Ihre Daten werden sicher verarbeitet. Wir speichern Ihren Text nicht.</translation>
    </message>
    <message>
        <source>Signed in</source>
        <translation>Angemeldet</translation>
    </message>
    <message>
        <source>Sign Out</source>
        <translation>Abmelden</translation>
    </message>
    <message>
        <source>Sign in to use Quillpoint</source>
        <translation>Melden Sie sich an, um Quillpoint zu nutzen</translation>
    </message>
    <message>
        <source>Sign in with Apple</source>
        <translation>Mit Apple anmelden</translation>
    </message>
</context>
<context>
    <name>quill::ActionBar</name>
    <message>
        <source>Paste</source>
        <translation>Einfügen</translation>
    </message>
    <message>
        <source>less</source>
        <translation>weniger</translation>
    </message>
    <message>
        <source>more</source>
        <translation>mehr</translation>
    </message>
    <message>
        <source>Copied!</source>
        <translation>Kopiert!</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
</context>
<context>
    <name>quill::ActionList</name>
    <message>
        <source>line %1, column %2</source>
        <translation>Zeile %1, Spalte %2</translation>
    </message>
    <message>
        <source>the id must be 1 to 64 letters, digits, &apos;-&apos; or &apos;_&apos;</source>
        <translation>die Kennung muss aus 1 bis 64 Buchstaben, Ziffern, „-“ oder „_“ bestehen</translation>
    </message>
    <message>
        <source>the name must be 1 to 100 characters on one line</source>
        <translation>der Name muss 1 bis 100 Zeichen auf einer Zeile lang sein</translation>
    </message>
    <message>
        <source>the instruction is empty</source>
        <translation>die Anweisung ist leer</translation>
    </message>
    <message>
        <source>the instruction is longer than 2,000 characters</source>
        <translation>die Anweisung ist länger als 2.000 Zeichen</translation>
    </message>
    <message>
        <source>the instruction holds control characters</source>
        <translation>die Anweisung enthält Steuerzeichen</translation>
    </message>
    <message>
        <source>the id &quot;%1&quot; is used twice</source>
        <translation>die Kennung „%1“ kommt zweimal vor</translation>
    </message>
    <message>
        <source>the shortcut is already used by &quot;%1&quot;</source>
        <translation>das Tastenkürzel wird bereits von „%1“ verwendet</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>expected an object with an array &quot;actions&quot;</source>
        <translation>erwartet wird ein Objekt mit einer Liste „actions“</translation>
    </message>
    <message>
        <source>expected an object</source>
        <translation>erwartet wird ein Objekt</translation>
    </message>
    <message>
        <source>&quot;%1&quot; must be a string</source>
        <translation>„%1“ muss eine Zeichenkette sein</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a shortcut with Ctrl, Alt, Shift or Super</source>
        <translation>„%1“ ist kein Tastenkürzel mit Ctrl, Alt, Shift oder Super</translation>
    </message>
    <message>
        <source>&quot;shortcut&quot; must be a string</source>
        <translation>„shortcut“ muss eine Zeichenkette sein</translation>
    </message>
    <message>
        <source>&quot;result&quot; must be &quot;panel&quot;, &quot;replace&quot; or &quot;copy&quot;</source>
        <translation>„result“ muss „panel“, „replace“ oder „copy“ sein</translation>
    </message>
    <message>
        <source>&quot;enabled&quot; must be true or false</source>
        <translation>„enabled“ muss true oder false sein</translation>
    </message>
    <message>
        <source>Fix spelling and grammar</source>
        <translation>Rechtschreibung und Grammatik korrigieren</translation>
    </message>
    <message>
        <source>Make it shorter</source>
        <translation>Kürzer fassen</translation>
    </message>
    <message>
        <source>Translate into English</source>
        <translation>Ins Englische übersetzen</translation>
    </message>
    <message>
        <source>Summarize</source>
        <translation>Zusammenfassen</translation>
    </message>
</context>
<context>
    <name>quill::ActionSequence</name>
    <message>
        <source>Copied to the clipboard.</source>
        <translation>In die Zwischenablage kopiert.</translation>
    </message>
    <message>
        <source>The selection changed, so it was not replaced.</source>
        <translation>Die Auswahl hat sich geändert, daher wurde sie nicht ersetzt.</translation>
    </message>
</context>
<context>
    <name>quill::ActionShortcuts</name>
    <message>
        <source>This shortcut is already used by Explain or Transcribe.</source>
        <translation>Dieses Tastenkürzel wird bereits von Erklären oder Diktieren verwendet.</translation>
    </message>
</context>
<context>
    <name>quill::ActionStore</name>
    <message>
        <source>%1 cannot be read: %2</source>
        <translation>%1 kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>%1 is larger than 1 MiB</source>
        <translation>%1 ist größer als 1 MiB</translation>
    </message>
    <message>
        <source>%1 is not valid, so the built-in actions are used: %2</source>
        <translation>%1 ist ungültig, daher werden die eingebauten Aktionen verwendet: %2</translation>
    </message>
    <message>
        <source>The actions are not saved, so as not to overwrite the file. %1</source>
        <translation>Die Aktionen werden nicht gespeichert, damit die Datei nicht überschrieben wird. %1</translation>
    </message>
    <message>
        <source>%1 cannot be written: %2</source>
        <translation>%1 kann nicht geschrieben werden: %2</translation>
    </message>
</context>
<context>
    <name>quill::ActionsPreferencesView</name>
    <message>
        <source>Actions</source>
        <translation>Aktionen</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Hinzufügen</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>Move Up</source>
        <translation>Nach oben</translation>
    </message>
    <message>
        <source>Move Down</source>
        <translation>Nach unten</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Instruction</source>
        <translation>Anweisung</translation>
    </message>
    <message>
        <source>Show in the panel</source>
        <translation>Im Fenster anzeigen</translation>
    </message>
    <message>
        <source>Replace the selection</source>
        <translation>Auswahl ersetzen</translation>
    </message>
    <message>
        <source>Copy to the clipboard</source>
        <translation>In die Zwischenablage kopieren</translation>
    </message>
    <message>
        <source>Result</source>
        <translation>Ergebnis</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Keines</translation>
    </message>
    <message>
        <source>Shortcut</source>
        <translation>Tastenkürzel</translation>
    </message>
    <message>
        <source>New action</source>
        <translation>Neue Aktion</translation>
    </message>
    <message>
        <source>Explainer Mode</source>
        <translation>Erklärmodus</translation>
    </message>
    <message>
        <source>Transcribe Mode</source>
        <translation>Diktiermodus</translation>
    </message>
    <message>
        <source>Cancel Recording</source>
        <translation>Aufnahme abbrechen</translation>
    </message>
</context>
<context>
    <name>quill::CodeBlockView</name>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>Copy code</source>
        <translation>Code kopieren</translation>
    </message>
    <message>
        <source>Copied!</source>
        <translation>Kopiert!</translation>
    </message>
</context>
<context>
    <name>quill::ExplainSequence</name>
    <message>
        <source>Please sign in via Preferences (Ctrl+,)</source>
        <translation>Bitte melden Sie sich in den Einstellungen an (Ctrl+,)</translation>
    </message>
    <message>
        <source>No text selected</source>
        <translation>Kein Text markiert</translation>
    </message>
    <message>
        <source>No response received</source>
        <translation>Keine Antwort erhalten</translation>
    </message>
    <message>
        <source>Accessibility required.

If already turned on, log out and back in, then start Quillpoint again:
%1</source>
        <translation>Barrierefreiheit erforderlich.

Falls sie bereits eingeschaltet ist, melden Sie sich ab und wieder an und starten Sie Quillpoint dann erneut:
%1</translation>
    </message>
    <message>
        <source>To copy the selected text, Quillpoint asks the desktop for permission to type. Allow it in the dialog that opens.</source>
        <translation>Um den markierten Text zu kopieren, bittet Quillpoint die Arbeitsumgebung um die Erlaubnis zu tippen. Erlauben Sie es im Dialog, der sich öffnet.</translation>
    </message>
</context>
<context>
    <name>quill::ExplanationView</name>
    <message>
        <source>Quillpoint</source>
        <translation>Quillpoint</translation>
    </message>
    <message>
        <source>Dismiss (Esc)</source>
        <translation>Schließen (Esc)</translation>
    </message>
    <message>
        <source>Dismiss</source>
        <translation>Schließen</translation>
    </message>
</context>
<context>
    <name>quill::GeneralPreferencesView</name>
    <message>
        <source>Keyboard Shortcuts</source>
        <translation>Tastenkürzel</translation>
    </message>
    <message>
        <source>Startup</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Launch at Login</source>
        <translation>Beim Anmelden starten</translation>
    </message>
    <message>
        <source>Model</source>
        <translation>Modell</translation>
    </message>
    <message>
        <source>AI Model</source>
        <translation>KI-Modell</translation>
    </message>
    <message>
        <source>Explainer Mode</source>
        <translation>Erklärmodus</translation>
    </message>
    <message>
        <source>Transcribe Mode</source>
        <translation>Diktiermodus</translation>
    </message>
    <message>
        <source>Cancel Recording</source>
        <translation>Aufnahme abbrechen</translation>
    </message>
    <message>
        <source>Runs on this computer: your text does not leave it.</source>
        <translation>Läuft auf diesem Computer: Ihr Text verlässt ihn nicht.</translation>
    </message>
    <message>
        <source>The backend no longer offers %1. Quillpoint uses %2 until you choose a model.</source>
        <translation>Das Backend bietet %1 nicht mehr an. Quillpoint verwendet %2, bis Sie ein Modell wählen.</translation>
    </message>
    <message>
        <source>The backend has no model to answer with. Run Ollama or llama.cpp on this computer, or give the backend an upstream service.</source>
        <translation>Das Backend hat kein Modell, mit dem es antworten kann. Starten Sie Ollama oder llama.cpp auf diesem Computer oder geben Sie dem Backend einen Upstream-Dienst.</translation>
    </message>
</context>
<context>
    <name>quill::GlobalShortcutService</name>
    <message>
        <source>%1 is already used by another application</source>
        <translation>%1 wird bereits von einer anderen Anwendung verwendet</translation>
    </message>
    <message>
        <source>%1 cannot be used as a shortcut with this keyboard</source>
        <translation>%1 lässt sich mit dieser Tastatur nicht als Tastenkürzel verwenden</translation>
    </message>
    <message>
        <source>The desktop did not give %1 to Quillpoint; choose the key in the desktop&apos;s shortcut settings</source>
        <translation>Die Arbeitsumgebung hat %1 nicht an Quillpoint vergeben; wählen Sie die Taste in ihren Tastenkürzel-Einstellungen</translation>
    </message>
    <message>
        <source>No global shortcuts in this session: bind `quillpoint --explain` and `quillpoint --transcribe` to keys in your desktop&apos;s keyboard settings.</source>
        <translation>Keine globalen Tastenkürzel in dieser Sitzung: Legen Sie `quillpoint --explain` und `quillpoint --transcribe` in den Tastatureinstellungen Ihrer Arbeitsumgebung auf Tasten.</translation>
    </message>
    <message>
        <source>%1 cannot be used: Quillpoint cannot watch the keyboard in this session</source>
        <translation>%1 kann nicht verwendet werden: Quillpoint kann die Tastatur in dieser Sitzung nicht beobachten</translation>
    </message>
</context>
<context>
    <name>quill::HistoryListModel</name>
    <message>
        <source>Explanation</source>
        <translation>Erklärung</translation>
    </message>
    <message>
        <source>Action</source>
        <translation>Aktion</translation>
    </message>
    <message>
        <source>Transcript (%1 s)</source>
        <translation>Diktat (%1 s)</translation>
    </message>
    <message>
        <source>Not pasted</source>
        <translation>Nicht eingefügt</translation>
    </message>
</context>
<context>
    <name>quill::HistoryPreferencesView</name>
    <message>
        <source>History</source>
        <translation>Verlauf</translation>
    </message>
    <message>
        <source>Keep a history of results</source>
        <translation>Verlauf der Ergebnisse führen</translation>
    </message>
    <message>
        <source> days</source>
        <translation> Tage</translation>
    </message>
    <message>
        <source>Keep for</source>
        <translation>Aufbewahren für</translation>
    </message>
    <message>
        <source> entries</source>
        <translation> Einträge</translation>
    </message>
    <message>
        <source>Keep at most</source>
        <translation>Höchstens behalten</translation>
    </message>
    <message>
        <source>Explanations and transcripts are kept on this computer only. Turning the history off keeps what is there; Clear All in the History window deletes it.</source>
        <translation>Erklärungen und Diktate bleiben nur auf diesem Computer. Wird der Verlauf ausgeschaltet, bleibt das Vorhandene erhalten; „Alle löschen“ im Verlaufsfenster löscht es.</translation>
    </message>
</context>
<context>
    <name>quill::HistoryStore</name>
    <message>
        <source>Cannot open the history</source>
        <translation>Der Verlauf lässt sich nicht öffnen</translation>
    </message>
    <message>
        <source>Qt&apos;s SQLite driver is missing (Debian: libqt6sql6-sqlite)</source>
        <translation>Der SQLite-Treiber von Qt fehlt (Debian: libqt6sql6-sqlite)</translation>
    </message>
    <message>
        <source>Cannot open the history %1</source>
        <translation>Der Verlauf %1 lässt sich nicht öffnen</translation>
    </message>
    <message>
        <source>cannot create the folder %1</source>
        <translation>der Ordner %1 lässt sich nicht anlegen</translation>
    </message>
    <message>
        <source>Cannot write to the history %1</source>
        <translation>In den Verlauf %1 lässt sich nicht schreiben</translation>
    </message>
    <message>
        <source>it was written by a newer version of Quillpoint</source>
        <translation>die Datei stammt von einer neueren Version von Quillpoint</translation>
    </message>
</context>
<context>
    <name>quill::HistoryWindow</name>
    <message>
        <source>History</source>
        <translation>Verlauf</translation>
    </message>
    <message>
        <source>Search</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <source>Entry</source>
        <translation>Eintrag</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>Clear All...</source>
        <translation>Alle löschen …</translation>
    </message>
    <message>
        <source>No entries yet</source>
        <translation>Noch keine Einträge</translation>
    </message>
    <message>
        <source>Nothing found</source>
        <translation>Nichts gefunden</translation>
    </message>
    <message>
        <source>Selected text:</source>
        <translation>Markierter Text:</translation>
    </message>
    <message>
        <source>Clear History</source>
        <translation>Verlauf löschen</translation>
    </message>
    <message>
        <source>Delete every entry of the history? This cannot be undone.</source>
        <translation>Alle Einträge des Verlaufs löschen? Das lässt sich nicht rückgängig machen.</translation>
    </message>
    <message>
        <source>Delete All</source>
        <translation>Alle löschen</translation>
    </message>
</context>
<context>
    <name>quill::LoadingView</name>
    <message>
        <source>Analyzing...</source>
        <translation>Analysiere …</translation>
    </message>
</context>
<context>
    <name>quill::PanelDismissKey</name>
    <message>
        <source>Dismiss Panel</source>
        <translation>Antwortfenster schließen</translation>
    </message>
</context>
<context>
    <name>quill::PermissionManager</name>
    <message>
        <source>Accessibility Permission Required</source>
        <translation>Berechtigung für Barrierefreiheit erforderlich</translation>
    </message>
    <message>
        <source>Quillpoint needs Accessibility permission to:

• Capture selected text from any application
• Respond to global keyboard shortcuts

Click &quot;Open System Settings&quot; to turn on assistive technologies, then restart the applications you want to read text from.</source>
        <translation>Quillpoint benötigt die Berechtigung für Barrierefreiheit, um:

• markierten Text aus jeder Anwendung zu lesen
• auf globale Tastenkürzel zu reagieren

Klicken Sie auf „Systemeinstellungen öffnen“, um die assistiven Technologien einzuschalten, und starten Sie danach die Anwendungen neu, aus denen Text gelesen werden soll.</translation>
    </message>
    <message>
        <source>Open System Settings</source>
        <translation>Systemeinstellungen öffnen</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>Später</translation>
    </message>
    <message>
        <source>Microphone Permission Required</source>
        <translation>Mikrofonzugriff erforderlich</translation>
    </message>
    <message>
        <source>Quillpoint needs microphone access to transcribe your voice.

Click &quot;Open System Settings&quot; to grant permission.</source>
        <translation>Quillpoint benötigt Zugriff auf das Mikrofon, um Ihre Sprache zu transkribieren.

Klicken Sie auf „Systemeinstellungen öffnen“, um den Zugriff zu erlauben.</translation>
    </message>
    <message>
        <source>Microphone Access Restricted</source>
        <translation>Mikrofonzugriff eingeschränkt</translation>
    </message>
    <message>
        <source>Microphone access is blocked by a device policy. Contact your administrator.</source>
        <translation>Der Mikrofonzugriff ist durch eine Geräterichtlinie gesperrt. Wenden Sie sich an Ihre Administration.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Quillpoint</source>
        <translation>Quillpoint</translation>
    </message>
</context>
<context>
    <name>quill::PreferencesView</name>
    <message>
        <source>General</source>
        <translation>Allgemein</translation>
    </message>
    <message>
        <source>Account</source>
        <translation>Konto</translation>
    </message>
    <message>
        <source>Transcription</source>
        <translation>Transkription</translation>
    </message>
    <message>
        <source>History</source>
        <translation>Verlauf</translation>
    </message>
    <message>
        <source>Actions</source>
        <translation>Aktionen</translation>
    </message>
</context>
<context>
    <name>quill::PreferencesWindowController</name>
    <message>
        <source>Quillpoint Preferences</source>
        <translation>Quillpoint-Einstellungen</translation>
    </message>
</context>
<context>
    <name>quill::ReplyStatus</name>
    <message>
        <source>The request timed out.</source>
        <translation>Die Anfrage hat zu lange gedauert.</translation>
    </message>
</context>
<context>
    <name>quill::ShortcutRecorderView</name>
    <message>
        <source>Reset to default</source>
        <translation>Auf Standard zurücksetzen</translation>
    </message>
    <message>
        <source>Press shortcut...</source>
        <translation>Tastenkürzel drücken …</translation>
    </message>
    <message>
        <source>Reserved system shortcut</source>
        <translation>Vom System reserviertes Tastenkürzel</translation>
    </message>
    <message>
        <source>Reset to default (%1)</source>
        <translation>Auf Standard zurücksetzen (%1)</translation>
    </message>
    <message>
        <source>%1 is already used by %2</source>
        <translation>%1 wird bereits von „%2“ verwendet</translation>
    </message>
</context>
<context>
    <name>quill::StatusBarController</name>
    <message>
        <source>Quillpoint - %1 Explain | %2 Transcribe</source>
        <translation>Quillpoint – %1 Erklären | %2 Diktieren</translation>
    </message>
    <message>
        <source>Quillpoint</source>
        <translation>Quillpoint</translation>
    </message>
    <message>
        <source>Explainer Mode</source>
        <translation>Erklärmodus</translation>
    </message>
    <message>
        <source>Transcribe Mode</source>
        <translation>Diktiermodus</translation>
    </message>
    <message>
        <source>✓ Accessibility Enabled</source>
        <translation>✓ Barrierefreiheit aktiviert</translation>
    </message>
    <message>
        <source>⚠ Accessibility Required</source>
        <translation>⚠ Barrierefreiheit erforderlich</translation>
    </message>
    <message>
        <source>✓ Signed In</source>
        <translation>✓ Angemeldet</translation>
    </message>
    <message>
        <source>⚠ Sign In Required</source>
        <translation>⚠ Anmeldung erforderlich</translation>
    </message>
    <message>
        <source>Preferences...</source>
        <translation>Einstellungen …</translation>
    </message>
    <message>
        <source>Quit Quillpoint</source>
        <translation>Quillpoint beenden</translation>
    </message>
    <message>
        <source>Check for Updates...</source>
        <translation>Nach Aktualisierungen suchen …</translation>
    </message>
    <message>
        <source>History...</source>
        <translation>Verlauf …</translation>
    </message>
    <message>
        <source>Show Last Answer</source>
        <translation>Letzte Antwort anzeigen</translation>
    </message>
</context>
<context>
    <name>quill::TextContent</name>
    <message>
        <source>… %1 more characters not shown</source>
        <translation>… %1 weitere Zeichen nicht angezeigt</translation>
    </message>
</context>
<context>
    <name>quill::TranscribeSequence</name>
    <message>
        <source>Failed to start recording</source>
        <translation>Die Aufnahme ließ sich nicht starten</translation>
    </message>
    <message>
        <source>Listening... (%1 to cancel)</source>
        <translation>Höre zu … (%1 zum Abbrechen)</translation>
    </message>
    <message>
        <source>Transcribing...</source>
        <translation>Transkribiere …</translation>
    </message>
    <message>
        <source>%1 is not available: recording from the system default</source>
        <translation>%1 ist nicht verfügbar: Aufnahme vom Standardmikrofon des Systems</translation>
    </message>
    <message>
        <source> — %1 s left</source>
        <translation> – noch %1 s</translation>
    </message>
    <message>
        <source>The recording is kept in %1</source>
        <translation>Die Aufnahme liegt in %1</translation>
    </message>
    <message>
        <source>The recording could not be saved: %1</source>
        <translation>Die Aufnahme konnte nicht gespeichert werden: %1</translation>
    </message>
    <message>
        <source>What was recorded is kept in %1</source>
        <translation>Das Aufgenommene liegt in %1</translation>
    </message>
    <message>
        <source>Nothing of it could be kept</source>
        <translation>Davon konnte nichts aufbewahrt werden</translation>
    </message>
    <message>
        <source>Not pasted: the clipboard holds more than can be kept safely</source>
        <translation>Nicht eingefügt: Die Zwischenablage enthält mehr, als sicher bewahrt werden kann</translation>
    </message>
    <message>
        <source>To paste the transcript, Quillpoint asks the desktop for permission to type. Allow it in the dialog that opens.</source>
        <translation>Um das Transkript einzufügen, bittet Quillpoint die Arbeitsumgebung um die Erlaubnis zu tippen. Erlauben Sie es im Dialog, der sich öffnet.</translation>
    </message>
    <message>
        <source>The transcript is on the clipboard. Press Ctrl+V to paste</source>
        <translation>Das Transkript liegt in der Zwischenablage. Drücken Sie Strg+V zum Einfügen</translation>
    </message>
</context>
<context>
    <name>quill::TranscriptionPreferencesView</name>
    <message>
        <source>Recording</source>
        <translation>Aufnahme</translation>
    </message>
    <message>
        <source>Hold to talk</source>
        <translation>Zum Sprechen gedrückt halten</translation>
    </message>
    <message>
        <source>Hold the Transcribe shortcut while you speak; letting go transcribes. A short press starts and stops as before.</source>
        <translation>Halten Sie das Tastenkürzel für „Diktieren“ gedrückt, während Sie sprechen; beim Loslassen wird transkribiert. Ein kurzer Druck startet und stoppt wie bisher.</translation>
    </message>
    <message>
        <source>Microphone</source>
        <translation>Mikrofon</translation>
    </message>
    <message>
        <source>Detect automatically</source>
        <translation>Automatisch erkennen</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>Sprache</translation>
    </message>
    <message>
        <source>Clipboard</source>
        <translation>Zwischenablage</translation>
    </message>
    <message>
        <source>Keep my clipboard</source>
        <translation>Meine Zwischenablage behalten</translation>
    </message>
    <message>
        <source>Puts back what you had copied once the transcript has been pasted.</source>
        <translation>Stellt wieder her, was Sie kopiert hatten, sobald der Text eingefügt wurde.</translation>
    </message>
    <message>
        <source>System default</source>
        <translation>Systemstandard</translation>
    </message>
    <message>
        <source>%1 (not connected)</source>
        <translation>%1 (nicht verbunden)</translation>
    </message>
    <message>
        <source>Words to recognise</source>
        <translation>Zu erkennende Wörter</translation>
    </message>
    <message>
        <source>Names and jargon, separated by commas</source>
        <translation>Namen und Fachbegriffe, durch Kommas getrennt</translation>
    </message>
    <message>
        <source>Sent with each recording so that the transcript spells them right.</source>
        <translation>Wird mit jeder Aufnahme gesendet, damit das Transkript sie richtig schreibt.</translation>
    </message>
    <message>
        <source>Only the first %L1 characters are kept; shorten the list to keep what matters most.</source>
        <translation>Nur die ersten %L1 Zeichen werden behalten; kürzen Sie die Liste auf das Wichtigste.</translation>
    </message>
    <message>
        <source>Not available on this desktop: its shortcuts report no key release. Press the Transcribe shortcut once to start and once to stop.</source>
        <translation>Auf dieser Arbeitsumgebung nicht verfügbar: Ihre Tastenkürzel melden kein Loslassen der Taste. Drücken Sie das Kürzel zum Transkribieren einmal zum Starten und einmal zum Beenden.</translation>
    </message>
</context>
<context>
    <name>quill::UpdateChecker</name>
    <message>
        <source>The update server did not answer within %1 seconds.</source>
        <translation>Der Aktualisierungsserver hat nicht innerhalb von %1 Sekunden geantwortet.</translation>
    </message>
    <message>
        <source>The update feed is larger than %1 KB.</source>
        <translation>Die Aktualisierungsliste ist größer als %1 KB.</translation>
    </message>
    <message>
        <source>The update server answered with HTTP %1.</source>
        <translation>Der Aktualisierungsserver antwortete mit HTTP %1.</translation>
    </message>
    <message>
        <source>Could not reach the update server: %1</source>
        <translation>Der Aktualisierungsserver ist nicht erreichbar: %1</translation>
    </message>
</context>
<context>
    <name>quill::UpdateDialog</name>
    <message>
        <source>Download...</source>
        <translation>Herunterladen …</translation>
    </message>
    <message>
        <source>Software Update</source>
        <translation>Softwareaktualisierung</translation>
    </message>
    <message>
        <source>Checking for updates...</source>
        <translation>Suche nach Aktualisierungen …</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>You&apos;re up to date!</source>
        <translation>Quillpoint ist auf dem neuesten Stand!</translation>
    </message>
    <message>
        <source>Quillpoint %1 is the newest version available.</source>
        <translation>Quillpoint %1 ist die neueste verfügbare Version.</translation>
    </message>
    <message>
        <source>A new version of Quillpoint is available!</source>
        <translation>Eine neue Version von Quillpoint ist verfügbar!</translation>
    </message>
    <message>
        <source>Quillpoint %1 is now available. You have %2.</source>
        <translation>Quillpoint %1 ist jetzt verfügbar. Sie haben %2.</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>Später</translation>
    </message>
    <message>
        <source>Update check failed</source>
        <translation>Die Suche nach Aktualisierungen ist fehlgeschlagen</translation>
    </message>
</context>
<context>
    <name>quill::UpdateFeed</name>
    <message>
        <source>The update feed is not valid JSON (%1 at offset %2).</source>
        <translation>Die Aktualisierungsliste ist kein gültiges JSON (%1 an Position %2).</translation>
    </message>
    <message>
        <source>The update feed has no list of versions.</source>
        <translation>Die Aktualisierungsliste enthält keine Versionen.</translation>
    </message>
    <message>
        <source>The update feed lists no readable version.</source>
        <translation>Die Aktualisierungsliste nennt keine lesbare Version.</translation>
    </message>
    <message>
        <source>The update feed names no download page for version %1.</source>
        <translation>Die Aktualisierungsliste nennt keine Download-Seite für Version %1.</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>Version %1</translation>
    </message>
</context>
</TS>
