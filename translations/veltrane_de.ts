<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en">
<context>
    <name>veltrane::AssignmentView</name>
    <message>
        <source>Project</source>
        <translation>Projekt</translation>
    </message>
    <message>
        <source>Meeting</source>
        <translation>Meeting</translation>
    </message>
    <message>
        <source>Refresh projects and meetings</source>
        <translation>Projekte und Meetings aktualisieren</translation>
    </message>
    <message>
        <source>Create a meeting in this project</source>
        <translation>Ein Meeting in diesem Projekt anlegen</translation>
    </message>
    <message>
        <source>Select…</source>
        <translation>Auswählen …</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Keines</translation>
    </message>
    <message>
        <source>Project only</source>
        <translation>Nur Projekt</translation>
    </message>
    <message>
        <source>d MMM yyyy</source>
        <extracomment>The date format of a meeting&apos;s day in the meeting picker (QDate format letters).</extracomment>
        <translation>d. MMM yyyy</translation>
    </message>
</context>
<context>
    <name>veltrane::AudioRecorder</name>
    <message>
        <source>Sound server restarted — reconnecting…</source>
        <translation>Sound-Server neu gestartet – Verbindung wird wiederhergestellt …</translation>
    </message>
</context>
<context>
    <name>veltrane::CliText</name>
    <message>
        <source>project %1 is not an active project (see veltrane-cli projects)</source>
        <translation>Projekt %1 ist kein aktives Projekt (siehe veltrane-cli projects)</translation>
    </message>
    <message>
        <source>meeting %1 is not a meeting of project %2</source>
        <translation>Meeting %1 gehört nicht zu Projekt %2</translation>
    </message>
    <message>
        <source>Could not check the project with the server (%1); chunks are queued under the ids</source>
        <translation>Das Projekt konnte nicht beim Server geprüft werden (%1); die Abschnitte werden unter den IDs eingereiht</translation>
    </message>
    <message>
        <source>sources takes no arguments</source>
        <translation>sources erwartet keine Argumente</translation>
    </message>
    <message>
        <source>unknown command: %1</source>
        <translation>Unbekannter Befehl: %1</translation>
    </message>
    <message>
        <source>unexpected argument: %1</source>
        <translation>Unerwartetes Argument: %1</translation>
    </message>
    <message>
        <source>%1 needs a value</source>
        <translation>%1 braucht einen Wert</translation>
    </message>
    <message>
        <source>--format must be wav or m4a, not %1</source>
        <translation>--format muss wav oder m4a sein, nicht %1</translation>
    </message>
    <message>
        <source>--source must be a source id, not %1</source>
        <translation>--source muss eine Quellen-ID sein, nicht %1</translation>
    </message>
    <message>
        <source>--seconds must be a positive number, not %1</source>
        <translation>--seconds muss eine positive Zahl sein, nicht %1</translation>
    </message>
    <message>
        <source>--chunk-seconds must be at least 1, not %1</source>
        <translation>--chunk-seconds muss mindestens 1 sein, nicht %1</translation>
    </message>
    <message>
        <source>%1 must be a number from 0 to 2, not %2</source>
        <translation>%1 muss eine Zahl von 0 bis 2 sein, nicht %2</translation>
    </message>
    <message>
        <source>unknown option: %1</source>
        <translation>Unbekannte Option: %1</translation>
    </message>
    <message>
        <source>--dir is required</source>
        <translation>--dir ist erforderlich</translation>
    </message>
    <message>
        <source>--device-id is required</source>
        <translation>--device-id ist erforderlich</translation>
    </message>
    <message>
        <source>invalid device id &quot;%1&quot;: use letters and digits, ending in a digit</source>
        <translation>Ungültige Geräte-ID „%1“: Buchstaben und Ziffern verwenden, am Ende eine Ziffer</translation>
    </message>
    <message>
        <source>output folder does not exist: %1</source>
        <translation>Ausgabeordner existiert nicht: %1</translation>
    </message>
    <message>
        <source>--meeting needs --project</source>
        <translation>--meeting braucht --project</translation>
    </message>
    <message>
        <source>%1 must be a date as yyyy-MM-dd, not &quot;%2&quot;</source>
        <translation>%1 muss ein Datum im Format yyyy-MM-dd sein, nicht „%2“</translation>
    </message>
    <message>
        <source>Signed in as %1</source>
        <translation>Angemeldet als %1</translation>
    </message>
    <message>
        <source>Source Error: %1</source>
        <translation>Quellenfehler: %1</translation>
    </message>
    <message>
        <source>chunk folder does not exist: %1</source>
        <translation>Ordner der Abschnitte existiert nicht: %1</translation>
    </message>
    <message>
        <source>Uploads: %1 completed, %2 pending, %3 failed</source>
        <translation>Uploads: %1 abgeschlossen, %2 ausstehend, %3 fehlgeschlagen</translation>
    </message>
    <message>
        <source>The server has not answered for %1 minutes; the uploads stay queued for the next run</source>
        <translation>Der Server antwortet seit %1 Minuten nicht; die Uploads bleiben für den nächsten Lauf in der Warteschlange</translation>
    </message>
    <message>
        <source>Interrupted: the remaining uploads stay queued</source>
        <translation>Unterbrochen: Die übrigen Uploads bleiben in der Warteschlange</translation>
    </message>
    <message numerus="yes">
        <source>%n upload(s) cannot be sent now (chunk file missing or no server URL)</source>
        <translation>
            <numerusform>%n Upload kann jetzt nicht gesendet werden (Abschnittsdatei fehlt oder keine Server-URL)</numerusform>
            <numerusform>%n Uploads können jetzt nicht gesendet werden (Abschnittsdatei fehlt oder keine Server-URL)</numerusform>
        </translation>
    </message>
    <message>
        <source>❌ The upload queue file could not be read: %1</source>
        <translation>❌ Die Datei der Upload-Warteschlange konnte nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>%1; the next upload run keeps the readable jobs</source>
        <translation>%1; der nächste Upload-Lauf behält die lesbaren Aufträge</translation>
    </message>
    <message>
        <source>❌ The upload queue could not be saved: %1</source>
        <translation>❌ Die Upload-Warteschlange konnte nicht gespeichert werden: %1</translation>
    </message>
    <message numerus="yes">
        <source>%n failed upload(s) set back to pending</source>
        <translation>
            <numerusform>%n fehlgeschlagener Upload wieder eingereiht</numerusform>
            <numerusform>%n fehlgeschlagene Uploads wieder eingereiht</numerusform>
        </translation>
    </message>
    <message>
        <source>Already queued, skipped: %1</source>
        <translation>Bereits eingereiht, übersprungen: %1</translation>
    </message>
    <message numerus="yes">
        <source>%n chunk file(s) queued; send them with veltrane-cli upload</source>
        <translation>
            <numerusform>%n Abschnittsdatei eingereiht; senden mit veltrane-cli upload</numerusform>
            <numerusform>%n Abschnittsdateien eingereiht; senden mit veltrane-cli upload</numerusform>
        </translation>
    </message>
    <message>
        <source>no chunk folder known: pass --dir DIR (or record with --dir first)</source>
        <translation>Kein Ordner für Abschnitte bekannt: --dir ORDNER angeben (oder zuerst mit --dir aufnehmen)</translation>
    </message>
    <message>
        <source>no such chunk file: %1</source>
        <translation>Abschnittsdatei nicht gefunden: %1</translation>
    </message>
    <message>
        <source>--project is required</source>
        <translation>--project ist erforderlich</translation>
    </message>
    <message>
        <source>name at least one chunk file</source>
        <translation>Mindestens eine Abschnittsdatei angeben</translation>
    </message>
    <message>
        <source>not a chunk file of VeltraneRecorder (names look like rig1-2025-03-14-092653-chunk-001.wav)</source>
        <translation>Keine Abschnittsdatei von VeltraneRecorder (die Namen sehen so aus: rig1-2025-03-14-092653-chunk-001.wav)</translation>
    </message>
    <message>
        <source>its content is not the recording its name says</source>
        <translation>Ihr Inhalt ist nicht die Aufnahme, die ihr Name angibt</translation>
    </message>
    <message>
        <source>%1 takes no arguments</source>
        <translation>%1 erwartet keine Argumente</translation>
    </message>
    <message>
        <source>%1; the recording goes on, but its chunks are not queued for upload</source>
        <translation>%1; die Aufnahme läuft weiter, aber ihre Abschnitte werden nicht zum Hochladen eingereiht</translation>
    </message>
    <message>
        <source>Recording stopped; waiting for the server&apos;s answer about the project</source>
        <translation>Aufnahme beendet; warte auf die Antwort des Servers zum Projekt</translation>
    </message>
    <message>
        <source>Recording stopped; uploading the queued chunks</source>
        <translation>Aufnahme beendet; die eingereihten Abschnitte werden hochgeladen</translation>
    </message>
    <message numerus="yes">
        <source>%n chunk file(s) recorded but not queued.</source>
        <translation>
            <numerusform>%n Abschnittsdatei aufgenommen, aber nicht eingereiht.</numerusform>
            <numerusform>%n Abschnittsdateien aufgenommen, aber nicht eingereiht.</numerusform>
        </translation>
    </message>
    <message>
        <source>Queue them once the project is right:</source>
        <translation>Sobald das Projekt stimmt, so einreihen:</translation>
    </message>
    <message>
        <source>Once the folder can be written again, queue this recording&apos;s chunks with:</source>
        <translation>Sobald der Ordner wieder beschreibbar ist, die Abschnitte dieser Aufnahme so einreihen:</translation>
    </message>
    <message>
        <source>✅ Delivered %1</source>
        <translation>✅ Zugestellt: %1</translation>
    </message>
    <message>
        <source>, but the queue file could not record it</source>
        <translation>, aber die Warteschlangendatei konnte es nicht festhalten</translation>
    </message>
    <message numerus="yes">
        <source>❌ %1 failed after %n attempts: %2</source>
        <translation>
            <numerusform>❌ %1 nach %n Versuch fehlgeschlagen: %2</numerusform>
            <numerusform>❌ %1 nach %n Versuchen fehlgeschlagen: %2</numerusform>
        </translation>
    </message>
    <message>
        <source>Upload failed</source>
        <translation>Upload fehlgeschlagen</translation>
    </message>
    <message>
        <source>sending</source>
        <translation>wird gesendet</translation>
    </message>
    <message>
        <source>waiting</source>
        <translation>wartet</translation>
    </message>
    <message>
        <source>Sign in again (veltrane-cli login), then run veltrane-cli upload</source>
        <translation>Erneut anmelden (veltrane-cli login), dann veltrane-cli upload ausführen</translation>
    </message>
    <message>
        <source>The server cannot be reached; the uploads stay queued for the next veltrane-cli upload or the window</source>
        <translation>Der Server ist nicht erreichbar; die Uploads bleiben für das nächste veltrane-cli upload oder das Fenster in der Warteschlange</translation>
    </message>
    <message>
        <source>Password: </source>
        <translation>Passwort: </translation>
    </message>
</context>
<context>
    <name>veltrane::ContentView</name>
    <message>
        <source>Device ID</source>
        <translation>Geräte-ID</translation>
    </message>
    <message>
        <source>Folder</source>
        <translation>Ordner</translation>
    </message>
    <message>
        <source>Chunks</source>
        <translation>Abschnitte</translation>
    </message>
    <message>
        <source>%1 gain</source>
        <translation>Verstärkung %1</translation>
    </message>
    <message>
        <source>Above 100% the recording may clip</source>
        <translation>Über 100 % kann die Aufnahme übersteuern</translation>
    </message>
    <message>
        <source>Nothing has been heard from %1 for 30 seconds. Check that the meeting plays through it and is not muted.</source>
        <translation>Seit 30 Sekunden ist von %1 nichts zu hören. Prüfen Sie, ob das Meeting darüber wiedergegeben wird und nicht stummgeschaltet ist.</translation>
    </message>
    <message>
        <source>Audio Recorder</source>
        <translation>Audiorekorder</translation>
    </message>
    <message>
        <source>Permission Required</source>
        <translation>Berechtigung erforderlich</translation>
    </message>
    <message>
        <source>Open System Settings</source>
        <translation>Systemeinstellungen öffnen</translation>
    </message>
    <message>
        <source>No sound settings panel is installed (GNOME Settings, KDE System Settings or PulseAudio Volume Control).</source>
        <translation>Es sind keine Klangeinstellungen installiert (GNOME-Einstellungen, KDE-Systemeinstellungen oder PulseAudio-Lautstärkeregler).</translation>
    </message>
    <message>
        <source>System audio source</source>
        <translation>Quelle des Systemtons</translation>
    </message>
    <message>
        <source>The output device or program whose sound is recorded</source>
        <translation>Das Ausgabegerät oder Programm, dessen Ton aufgenommen wird</translation>
    </message>
    <message>
        <source>Microphone</source>
        <translation>Mikrofon</translation>
    </message>
    <message>
        <source>Mixed into the recording unless No Microphone</source>
        <translation>Wird in die Aufnahme gemischt, außer bei „Kein Mikrofon“</translation>
    </message>
    <message>
        <source>System</source>
        <translation>System</translation>
    </message>
    <message>
        <source>System audio</source>
        <translation>Systemton</translation>
    </message>
    <message>
        <source>Mic</source>
        <translation>Mikro</translation>
    </message>
    <message>
        <source>System audio level</source>
        <translation>Pegel des Systemtons</translation>
    </message>
    <message>
        <source>Microphone level</source>
        <translation>Mikrofonpegel</translation>
    </message>
    <message>
        <source>Letters and digits, ending in a digit; starts every chunk&apos;s file name</source>
        <translation>Buchstaben und Ziffern, am Ende eine Ziffer; steht am Anfang jedes Abschnitt-Dateinamens</translation>
    </message>
    <message>
        <source>Use letters and digits only, ending in a digit (e.g. linux001): the ID starts every chunk&apos;s file name. Record stays off until it fits.</source>
        <translation>Nur Buchstaben und Ziffern verwenden, am Ende eine Ziffer (z. B. linux001): Die ID steht am Anfang jedes Abschnitt-Dateinamens. „Aufnehmen“ bleibt aus, bis sie passt.</translation>
    </message>
    <message>
        <source>Choose</source>
        <translation>Auswählen</translation>
    </message>
    <message>
        <source>Choose folder</source>
        <translation>Ordner auswählen</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>Aufnehmen</translation>
    </message>
    <message>
        <source>Start or stop recording (Ctrl+R)</source>
        <translation>Aufnahme starten oder beenden (Strg+R)</translation>
    </message>
    <message>
        <source>Format</source>
        <translation>Format</translation>
    </message>
    <message>
        <source>%1 format</source>
        <translation>Format %1</translation>
    </message>
    <message>
        <source>Sign Out</source>
        <translation>Abmelden</translation>
    </message>
    <message>
        <source>Help and About</source>
        <translation>Hilfe und Info</translation>
    </message>
    <message>
        <source>Menu</source>
        <translation>Menü</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>About VeltraneRecorder</source>
        <translation>Über VeltraneRecorder</translation>
    </message>
    <message>
        <source>No Microphone</source>
        <translation>Kein Mikrofon</translation>
    </message>
    <message numerus="yes">
        <source>%n written</source>
        <translation>
            <numerusform>%n geschrieben</numerusform>
            <numerusform>%n geschrieben</numerusform>
        </translation>
    </message>
    <message>
        <source>None chosen</source>
        <translation>Keiner gewählt</translation>
    </message>
    <message>
        <source>Stop the recording to sign out</source>
        <translation>Beenden Sie die Aufnahme, um sich abzumelden</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stopp</translation>
    </message>
    <message>
        <source>Device ID must be letters and digits, ending in a digit.</source>
        <translation>Die Geräte-ID muss aus Buchstaben und Ziffern bestehen und auf eine Ziffer enden.</translation>
    </message>
    <message>
        <source>The capture ended.</source>
        <translation>Die Aufnahme des Tons endete.</translation>
    </message>
    <message>
        <source>the picked source</source>
        <translation>der gewählten Quelle</translation>
    </message>
</context>
<context>
    <name>veltrane::LevelMeter</name>
    <message>
        <source>off</source>
        <translation>aus</translation>
    </message>
</context>
<context>
    <name>veltrane::LoginView</name>
    <message>
        <source>Change Server…</source>
        <translation>Server ändern …</translation>
    </message>
    <message>
        <source>Email</source>
        <translation>E-Mail</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Passwort</translation>
    </message>
    <message>
        <source>Sign in</source>
        <translation>Anmelden</translation>
    </message>
    <message>
        <source>Server: %1</source>
        <translation>Server: %1</translation>
    </message>
</context>
<context>
    <name>veltrane::MainWindow</name>
    <message>
        <source>Saving the last chunk…</source>
        <translation>Letzter Abschnitt wird gespeichert …</translation>
    </message>
    <message>
        <source>● Recording %1 — VeltraneRecorder</source>
        <translation>● Aufnahme %1 – VeltraneRecorder</translation>
    </message>
    <message>
        <source>The recording stopped</source>
        <translation>Die Aufnahme wurde beendet</translation>
    </message>
    <message>
        <source>Nothing heard</source>
        <translation>Nichts zu hören</translation>
    </message>
    <message>
        <source>Your session has expired</source>
        <translation>Ihre Sitzung ist abgelaufen</translation>
    </message>
    <message numerus="yes">
        <source>%n upload(s) wait until you sign in again.</source>
        <translation>
            <numerusform>%n Upload wartet, bis Sie sich erneut anmelden.</numerusform>
            <numerusform>%n Uploads warten, bis Sie sich erneut anmelden.</numerusform>
        </translation>
    </message>
    <message>
        <source>Sign in again to go on.</source>
        <translation>Melden Sie sich erneut an, um fortzufahren.</translation>
    </message>
    <message>
        <source>&lt;h3&gt;Keyboard shortcuts&lt;/h3&gt;&lt;table cellspacing=4&gt;&lt;tr&gt;&lt;td&gt;&lt;b&gt;Ctrl+R&lt;/b&gt;&lt;/td&gt;&lt;td&gt;Start or stop recording&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;&lt;b&gt;Ctrl+Q&lt;/b&gt;&lt;/td&gt;&lt;td&gt;Quit (asks first while recording)&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;&lt;b&gt;F1&lt;/b&gt;&lt;/td&gt;&lt;td&gt;This help&lt;/td&gt;&lt;/tr&gt;&lt;/table&gt;&lt;h3&gt;Where things are&lt;/h3&gt;&lt;p&gt;&lt;b&gt;Chunks&lt;/b&gt; (5-minute audio files): %1&lt;/p&gt;&lt;p&gt;&lt;b&gt;Upload queue&lt;/b&gt;: %2&lt;/p&gt;&lt;p&gt;&lt;b&gt;Background uploader&apos;s log&lt;/b&gt; (uploads that go on after the window closes): %3&lt;/p&gt;</source>
        <translation>&lt;h3&gt;Tastenkürzel&lt;/h3&gt;&lt;table cellspacing=4&gt;&lt;tr&gt;&lt;td&gt;&lt;b&gt;Strg+R&lt;/b&gt;&lt;/td&gt;&lt;td&gt;Aufnahme starten oder beenden&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;&lt;b&gt;Strg+Q&lt;/b&gt;&lt;/td&gt;&lt;td&gt;Beenden (fragt während einer Aufnahme nach)&lt;/td&gt;&lt;/tr&gt;&lt;tr&gt;&lt;td&gt;&lt;b&gt;F1&lt;/b&gt;&lt;/td&gt;&lt;td&gt;Diese Hilfe&lt;/td&gt;&lt;/tr&gt;&lt;/table&gt;&lt;h3&gt;Wo was liegt&lt;/h3&gt;&lt;p&gt;&lt;b&gt;Abschnitte&lt;/b&gt; (5-Minuten-Audiodateien): %1&lt;/p&gt;&lt;p&gt;&lt;b&gt;Upload-Warteschlange&lt;/b&gt;: %2&lt;/p&gt;&lt;p&gt;&lt;b&gt;Protokoll des Hintergrund-Uploads&lt;/b&gt; (Uploads, die nach dem Schließen des Fensters weiterlaufen): %3&lt;/p&gt;</translation>
    </message>
    <message>
        <source>&lt;h3&gt;VeltraneRecorder %1&lt;/h3&gt;&lt;p&gt;Records meeting audio in chunks and uploads them to Veltrane.&lt;/p&gt;&lt;p&gt;Licence: proprietary, all rights reserved.&lt;/p&gt;&lt;p&gt;Built with Qt %2 (running %3), QCoro %4, libpulse %5, FFmpeg libavformat %6, libsecret %7.&lt;/p&gt;</source>
        <translation>&lt;h3&gt;VeltraneRecorder %1&lt;/h3&gt;&lt;p&gt;Nimmt den Ton von Meetings in Abschnitten auf und lädt sie zu Veltrane hoch.&lt;/p&gt;&lt;p&gt;Lizenz: proprietär, alle Rechte vorbehalten.&lt;/p&gt;&lt;p&gt;Erstellt mit Qt %2 (ausgeführt mit %3), QCoro %4, libpulse %5, FFmpeg libavformat %6, libsecret %7.&lt;/p&gt;</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>none chosen yet</source>
        <translation>noch keiner gewählt</translation>
    </message>
    <message>
        <source>About VeltraneRecorder</source>
        <translation>Über VeltraneRecorder</translation>
    </message>
    <message>
        <source>It can go on in the background: the status icon stays in the panel. Or stop it, save the last chunk and quit.</source>
        <translation>Sie kann im Hintergrund weiterlaufen: Das Statussymbol bleibt in der Leiste. Oder sie wird beendet, der letzte Abschnitt gespeichert und das Programm geschlossen.</translation>
    </message>
    <message>
        <source>Stop it, save the last chunk and quit?</source>
        <translation>Aufnahme beenden, letzten Abschnitt speichern und schließen?</translation>
    </message>
    <message>
        <source>&amp;Keep Recording in Background</source>
        <translation>Im &amp;Hintergrund weiter aufnehmen</translation>
    </message>
    <message>
        <source>&amp;Stop and Quit</source>
        <translation>Beenden und &amp;schließen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>A recording is under way.</source>
        <translation>Eine Aufnahme läuft.</translation>
    </message>
</context>
<context>
    <name>veltrane::Messages</name>
    <message>
        <source>Invalid source configuration</source>
        <translation>Ungültige Quelleneinstellung</translation>
    </message>
    <message>
        <source>No audio data was captured</source>
        <translation>Es wurden keine Audiodaten aufgenommen</translation>
    </message>
    <message>
        <source>Server not configured</source>
        <translation>Kein Server eingerichtet</translation>
    </message>
    <message>
        <source>Enter your email and password.</source>
        <translation>Geben Sie Ihre E-Mail-Adresse und Ihr Passwort ein.</translation>
    </message>
    <message>
        <source>Signed in, but the server did not return a session token.</source>
        <translation>Angemeldet, aber der Server hat kein Sitzungstoken zurückgegeben.</translation>
    </message>
    <message>
        <source>Invalid email or password.</source>
        <translation>E-Mail-Adresse oder Passwort ist falsch.</translation>
    </message>
    <message>
        <source>Authentication required</source>
        <translation>Anmeldung erforderlich</translation>
    </message>
    <message>
        <source>Access denied</source>
        <translation>Zugriff verweigert</translation>
    </message>
    <message>
        <source>Not found</source>
        <translation>Nicht gefunden</translation>
    </message>
    <message>
        <source>Waiting for sign-in</source>
        <translation>Wartet auf Anmeldung</translation>
    </message>
    <message>
        <source>Upload failed</source>
        <translation>Upload fehlgeschlagen</translation>
    </message>
    <message>
        <source>Source Error: %1</source>
        <translation>Quellenfehler: %1</translation>
    </message>
    <message>
        <source>Setup Error: %1</source>
        <translation>Einrichtungsfehler: %1</translation>
    </message>
    <message>
        <source>Capture Error: %1</source>
        <translation>Aufnahmefehler: %1</translation>
    </message>
    <message>
        <source>Stream Stopped: %1</source>
        <translation>Audiostrom beendet: %1</translation>
    </message>
    <message>
        <source>Recording failed: %1</source>
        <translation>Aufnahme fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>Chunk error: %1</source>
        <translation>Abschnittsfehler: %1</translation>
    </message>
    <message>
        <source>Could not load meetings: %1</source>
        <translation>Meetings konnten nicht geladen werden: %1</translation>
    </message>
    <message>
        <source>Couldn&apos;t reach the sign-in service (HTTP %1).</source>
        <translation>Der Anmeldedienst war nicht erreichbar (HTTP %1).</translation>
    </message>
    <message>
        <source>Signed in, but the session could not be stored (keychain %1).</source>
        <translation>Angemeldet, aber die Sitzung konnte nicht gespeichert werden (Schlüsselbund %1).</translation>
    </message>
    <message>
        <source>Couldn&apos;t reach the server at %1 (%2).</source>
        <translation>Der Server %1 war nicht erreichbar (%2).</translation>
    </message>
    <message>
        <source>The server at %1 did not answer in time.</source>
        <translation>Der Server %1 hat nicht rechtzeitig geantwortet.</translation>
    </message>
    <message>
        <source>Server error (%1): %2</source>
        <translation>Serverfehler (%1): %2</translation>
    </message>
    <message>
        <source>Decoding error: %1</source>
        <translation>Antwort nicht lesbar: %1</translation>
    </message>
    <message>
        <source>Server unreachable — retrying</source>
        <translation>Server nicht erreichbar — neuer Versuch folgt</translation>
    </message>
    <message>
        <source>Server unreachable — retrying at %2</source>
        <translation>Server nicht erreichbar — neuer Versuch um %2</translation>
    </message>
    <message>
        <source>Server unreachable since %1 — retrying</source>
        <translation>Server seit %1 nicht erreichbar — neuer Versuch folgt</translation>
    </message>
    <message>
        <source>Server unreachable since %1 — retrying at %2</source>
        <translation>Server seit %1 nicht erreichbar — neuer Versuch um %2</translation>
    </message>
    <message>
        <source>no answer for 24 hours: %1</source>
        <translation>seit 24 Stunden keine Antwort: %1</translation>
    </message>
    <message>
        <source>Could not write the upload body: %1</source>
        <translation>Die Upload-Daten konnten nicht geschrieben werden: %1</translation>
    </message>
    <message>
        <source>Could not save the upload queue (%1); retrying</source>
        <translation>Die Upload-Warteschlange konnte nicht gespeichert werden (%1); neuer Versuch folgt</translation>
    </message>
    <message>
        <source>Not a usable server base URL: %1</source>
        <translation>Keine verwendbare Server-Adresse: %1</translation>
    </message>
    <message>
        <source>Plain http:// is only allowed to this computer; use https:// for %1</source>
        <translation>Unverschlüsseltes http:// ist nur zu diesem Computer erlaubt; verwenden Sie https:// für %1</translation>
    </message>
    <message>
        <source>Choose a folder for recorded audio chunks</source>
        <translation>Ordner für die aufgenommenen Audioabschnitte wählen</translation>
    </message>
    <message>
        <source>Choose</source>
        <translation>Auswählen</translation>
    </message>
    <message>
        <source>Could not reopen %1. Choose the folder again.</source>
        <translation>%1 konnte nicht wieder geöffnet werden. Wählen Sie den Ordner erneut.</translation>
    </message>
    <message>
        <source>%1 is not writable. Choose another folder.</source>
        <translation>In %1 kann nicht geschrieben werden. Wählen Sie einen anderen Ordner.</translation>
    </message>
    <message>
        <source>unknown error</source>
        <translation>unbekannter Fehler</translation>
    </message>
    <message>
        <source>Could not add an audio input to the chunk writer.</source>
        <translation>Dem Abschnittsschreiber konnte kein Audioeingang hinzugefügt werden.</translation>
    </message>
    <message>
        <source>Chunk writer failed: %1</source>
        <translation>Der Abschnittsschreiber ist fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>A file named %1 already exists; the chunk was kept under a modified name.</source>
        <translation>Eine Datei namens %1 gibt es bereits; der Abschnitt wurde unter einem geänderten Namen gespeichert.</translation>
    </message>
    <message>
        <source>the queue file could not be read: %1</source>
        <translation>die Datei der Warteschlange konnte nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>%1; the original is kept as %2</source>
        <translation>%1; das Original ist als %2 aufbewahrt</translation>
    </message>
    <message>
        <source>%1; the original could not be copied aside (%2)</source>
        <translation>%1; das Original konnte nicht beiseitegelegt werden (%2)</translation>
    </message>
    <message>
        <source>Server answered %1</source>
        <translation>Der Server antwortete %1</translation>
    </message>
    <message>
        <source>Server answered %1: %2</source>
        <translation>Der Server antwortete %1: %2</translation>
    </message>
    <message>
        <source>Server answered %1; redirects are not followed</source>
        <translation>Der Server antwortete %1; Weiterleitungen werden nicht verfolgt</translation>
    </message>
    <message>
        <source>Server answered %1, pointing to %2; redirects are not followed</source>
        <translation>Der Server antwortete %1 und verwies auf %2; Weiterleitungen werden nicht verfolgt</translation>
    </message>
    <message>
        <source>⚠️ Upload queue file was damaged: %1</source>
        <translation>⚠️ Die Datei der Upload-Warteschlange war beschädigt: %1</translation>
    </message>
    <message>
        <source>kept %1 job(s)</source>
        <translation>%1 Auftrag/Aufträge behalten</translation>
    </message>
    <message>
        <source>%1, set aside %2 undecodable entry</source>
        <translation>%1, %2 unlesbaren Eintrag beiseitegelegt</translation>
    </message>
    <message>
        <source>%1, set aside %2 undecodable entries</source>
        <translation>%1, %2 unlesbare Einträge beiseitegelegt</translation>
    </message>
    <message>
        <source>%1 (the file was cut off or overwritten)</source>
        <translation>%1 (die Datei war abgeschnitten oder überschrieben)</translation>
    </message>
    <message>
        <source>The upload queue&apos;s folder %1 cannot be written (%2); nothing can be queued or uploaded until it can</source>
        <translation>In den Ordner der Upload-Warteschlange %1 kann nicht geschrieben werden (%2); bis dahin kann nichts eingereiht oder hochgeladen werden</translation>
    </message>
    <message>
        <source>The upload queue is in use by another VeltraneRecorder process (process %1); try again when it has finished</source>
        <translation>Die Upload-Warteschlange wird von einem anderen VeltraneRecorder-Prozess verwendet (Prozess %1); versuchen Sie es erneut, wenn er beendet ist</translation>
    </message>
    <message>
        <source>The upload queue&apos;s lock file in %1 could not be created; try again</source>
        <translation>Die Sperrdatei der Upload-Warteschlange in %1 konnte nicht angelegt werden; versuchen Sie es erneut</translation>
    </message>
    <message>
        <source>The request was cancelled.</source>
        <translation>Die Anfrage wurde abgebrochen.</translation>
    </message>
    <message>
        <source>Your session has expired. Sign in again.</source>
        <translation>Ihre Sitzung ist abgelaufen. Melden Sie sich erneut an.</translation>
    </message>
    <message>
        <source>The request timed out.</source>
        <translation>Die Anfrage hat zu lange gedauert.</translation>
    </message>
</context>
<context>
    <name>veltrane::NewMeetingSheet</name>
    <message>
        <source>New Meeting</source>
        <translation>Neues Meeting</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Date</source>
        <translation>Datum</translation>
    </message>
    <message>
        <source>Multi-day</source>
        <translation>Mehrtägig</translation>
    </message>
    <message>
        <source>End date</source>
        <translation>Enddatum</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Create</source>
        <translation>Anlegen</translation>
    </message>
    <message>
        <source>in %1</source>
        <translation>in %1</translation>
    </message>
</context>
<context>
    <name>veltrane::RecordCommand</name>
    <message>
        <source>Recording a meeting</source>
        <translation>Ein Meeting wird aufgenommen</translation>
    </message>
    <message>
        <source>Source Error: %1</source>
        <translation>Quellenfehler: %1</translation>
    </message>
    <message>
        <source>No source to record: the sound server offers no output device or application</source>
        <translation>Keine Quelle zum Aufnehmen: Der Sound-Server bietet kein Ausgabegerät und keine Anwendung an</translation>
    </message>
    <message>
        <source>unknown source: %1 (see `veltrane-cli sources`)</source>
        <translation>Unbekannte Quelle: %1 (siehe `veltrane-cli sources`)</translation>
    </message>
    <message>
        <source>unknown microphone: %1</source>
        <translation>Unbekanntes Mikrofon: %1</translation>
    </message>
</context>
<context>
    <name>veltrane::RootView</name>
    <message>
        <source>Recording a meeting</source>
        <translation>Ein Meeting wird aufgenommen</translation>
    </message>
    <message>
        <source>Change Server</source>
        <translation>Server ändern</translation>
    </message>
    <message>
        <source>Server address (https://…):</source>
        <translation>Serveradresse (https://…):</translation>
    </message>
</context>
<context>
    <name>veltrane::StatusIcon</name>
    <message>
        <source>Show Window</source>
        <translation>Fenster anzeigen</translation>
    </message>
    <message>
        <source>Start Recording</source>
        <translation>Aufnahme starten</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>VeltraneRecorder — Recording %1</source>
        <translation>VeltraneRecorder – Aufnahme %1</translation>
    </message>
    <message>
        <source>VeltraneRecorder — Uploading 1 chunk</source>
        <translation>VeltraneRecorder – 1 Abschnitt wird hochgeladen</translation>
    </message>
    <message numerus="yes">
        <source>VeltraneRecorder — Uploading %n chunks</source>
        <translation>
            <numerusform>VeltraneRecorder – %n Abschnitt wird hochgeladen</numerusform>
            <numerusform>VeltraneRecorder – %n Abschnitte werden hochgeladen</numerusform>
        </translation>
    </message>
    <message>
        <source>VeltraneRecorder — Idle</source>
        <translation>VeltraneRecorder – Bereit</translation>
    </message>
    <message>
        <source>Stop Recording</source>
        <translation>Aufnahme beenden</translation>
    </message>
</context>
<context>
    <name>veltrane::SystemSource</name>
    <message>
        <source>Desktop Audio (%1)</source>
        <translation>Desktop-Audio (%1)</translation>
    </message>
    <message>
        <source>App: %1</source>
        <translation>App: %1</translation>
    </message>
    <message>
        <source>Default output (%1)</source>
        <translation>Standardausgabe (%1)</translation>
    </message>
</context>
<context>
    <name>veltrane::UploadFailureNotifier</name>
    <message>
        <source>1 chunk could not be uploaded</source>
        <translation>1 Abschnitt konnte nicht hochgeladen werden</translation>
    </message>
    <message numerus="yes">
        <source>%n chunks could not be uploaded</source>
        <translation>
            <numerusform>%n Abschnitt konnte nicht hochgeladen werden</numerusform>
            <numerusform>%n Abschnitte konnten nicht hochgeladen werden</numerusform>
        </translation>
    </message>
    <message>
        <source>It stays in the queue: Retry in VeltraneRecorder sends it again.</source>
        <translation>Er bleibt in der Warteschlange: „Wiederholen“ in VeltraneRecorder sendet ihn erneut.</translation>
    </message>
    <message>
        <source>They stay in the queue: Retry all in VeltraneRecorder sends them again.</source>
        <translation>Sie bleiben in der Warteschlange: „Alle wiederholen“ in VeltraneRecorder sendet sie erneut.</translation>
    </message>
</context>
<context>
    <name>veltrane::UploadQueueView</name>
    <message>
        <source>Uploads</source>
        <translation>Uploads</translation>
    </message>
    <message>
        <source>Retry all</source>
        <translation>Alle wiederholen</translation>
    </message>
    <message>
        <source>Nothing queued.</source>
        <translation>Nichts in der Warteschlange.</translation>
    </message>
    <message>
        <source>Uploads are being sent by another VeltraneRecorder process.</source>
        <translation>Die Uploads werden von einem anderen VeltraneRecorder-Prozess gesendet.</translation>
    </message>
    <message numerus="yes">
        <source>%n sent</source>
        <translation>
            <numerusform>%n gesendet</numerusform>
            <numerusform>%n gesendet</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>· %n failed</source>
        <translation>
            <numerusform>· %n fehlgeschlagen</numerusform>
            <numerusform>· %n fehlgeschlagen</numerusform>
        </translation>
    </message>
    <message>
        <source>Upload list</source>
        <translation>Upload-Liste</translation>
    </message>
</context>
<context>
    <name>veltrane::UploadRow</name>
    <message>
        <source>Retry</source>
        <translation>Wiederholen</translation>
    </message>
    <message>
        <source>Upload failed</source>
        <translation>Upload fehlgeschlagen</translation>
    </message>
    <message>
        <source>Retry %1</source>
        <translation>%1 wiederholen</translation>
    </message>
    <message>
        <source>Waiting</source>
        <translation>Wartet</translation>
    </message>
    <message>
        <source>Uploading</source>
        <translation>Wird hochgeladen</translation>
    </message>
    <message>
        <source>Uploaded</source>
        <translation>Hochgeladen</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>Fehlgeschlagen</translation>
    </message>
</context>
<context>
    <name>veltrane::style</name>
    <message>
        <source>Busy</source>
        <translation>Beschäftigt</translation>
    </message>
</context>
</TS>
