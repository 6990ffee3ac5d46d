<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>tallowdesk::shell::ActionHandler</name>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Refresh</source>
        <translation>&amp;Aktualisieren</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>Refresh current view
Refresh</source>
        <translation>Aktuelle Ansicht neu laden
Aktualisieren</translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::CMainFrame</name>
    <message>
        <source>Ready</source>
        <translation>Bereit</translation>
    </message>
</context>
<context>
    <name>tallowdesk::shell::CSettingDlg</name>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
</context>
<context>
    <name>EntryRules</name>
    <message>
        <source>%1 items</source>
        <translation>%1 Elemente</translation>
    </message>
</context>
<context>
    <name>FeedCatalogue</name>
    <message>
        <source> Trash</source>
        <translation> Papierkorb</translation>
    </message>
</context>
<context>
    <name>ListContextMenu</name>
    <message>
        <source>&amp;Create Folder</source>
        <translation>&amp;Ordner erstellen</translation>
    </message>
</context>
<context>
    <name>SignInFlow</name>
    <message>
        <source> Login failed! </source>
        <translation> Anmeldung fehlgeschlagen! </translation>
    </message>
</context>
</TS>
