<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>QMessageBox</name>
    <message>
        <source>No application on this computer opens “%1”.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>It is in %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ReceivingSettings</name>
    <message>
        <source>That is not an IPv4 address like 192.168.1.20.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unknown command %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The settings could not be saved: %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>velto::app::MainWindow</name>
    <message>
        <source>Velto keeps receiving while its window is closed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Start Velto again to bring the window back. To quit, press Ctrl+Q in the window.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Keep Receiving</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quit Velto</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>velto::app::Notifications</name>
    <message>
        <source>Show</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Accept</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Decline</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>velto::app::OpenPanel</name>
    <message>
        <source>Choose files or folders to send</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>velto::app::PreviewWindow</name>
    <message>
        <source>Open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Previous</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Next</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1  (%2 of %3)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The first %1 of %2 bytes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not found</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 (%2 bytes)</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>velto::app::TrayIcon</name>
    <message>
        <source>Show Velto</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quit</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>velto::app::VeltoWebView</name>
    <message>
        <source>Velto: Inspector</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy All</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quick Look</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reveal</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Retry</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>velto::app::ViewController</name>
    <message>
        <source>No file manager on this computer shows “%1”.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save received files in</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>wants to send &quot;%1&quot; (%2)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>wants to send &quot;%1&quot; and %3 more (%2)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Velto is not running.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>That is not an IPv4 address like 192.168.1.20.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Could not say hello to %1: %2.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
