<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>QObject</name>
    <message>
        <source>B</source>
        <translation>B</translation>
    </message>
    <message>
        <source>KB</source>
        <translation>KB</translation>
    </message>
    <message>
        <source>MB</source>
        <translation>MB</translation>
    </message>
    <message>
        <source>GB</source>
        <translation>GB</translation>
    </message>
    <message>
        <source>Open Boost Panel</source>
        <translation>Boost-Panel öffnen</translation>
    </message>
    <message>
        <source>Screen Capture (Ctrl+Alt+C)</source>
        <translation>Bildschirmfoto (Strg+Alt+C)</translation>
    </message>
    <message>
        <source>Screen Capture</source>
        <translation>Bildschirmfoto</translation>
    </message>
    <message>
        <source>Change Skin</source>
        <translation>Skin wechseln</translation>
    </message>
    <message>
        <source>Hide</source>
        <translation>Ausblenden</translation>
    </message>
    <message>
        <source>Open Verdant Suite</source>
        <translation>Verdant Suite öffnen</translation>
    </message>
</context>
<context>
    <name>BallViewer</name>
    <message>
        <source>RAM: %1%</source>
        <translation>RAM: %1 %</translation>
    </message>
    <message>
        <source>CPU: %1%</source>
        <translation>CPU: %1 %</translation>
    </message>
    <message>
        <source>Released %1 memory for computer.</source>
        <translation>%1 Arbeitsspeicher für den Computer freigegeben.</translation>
    </message>
    <message>
        <source>Boosted. Your PC performance is good.</source>
        <translation>Beschleunigt. Ihr PC läuft gut.</translation>
    </message>
</context>
<context>
    <name>ProcDataList</name>
    <message>
        <source>Advice</source>
        <translation>Empfohlen</translation>
    </message>
    <message>
        <source>Optional</source>
        <translation>Optional</translation>
    </message>
</context>
<context>
    <name>SkinsList</name>
    <message>
        <source>Default</source>
        <translation>Standard</translation>
    </message>
</context>
<context>
    <name>SkinView</name>
    <message>
        <source>Kest Lumen - </source>
        <translation>Kest Lumen - </translation>
    </message>
    <message>
        <source>Skin Center</source>
        <translation>Skin-Center</translation>
    </message>
</context>
<context>
    <name>PopUp</name>
    <message>
        <source>Kest Boost Panel</source>
        <translation>Kest Boost-Panel</translation>
    </message>
    <message>
        <source>Boost</source>
        <translation>Boost</translation>
    </message>
    <message>
        <source>Network</source>
        <translation>Netzwerk</translation>
    </message>
    <message>
        <source>Clean</source>
        <translation>Bereinigen</translation>
    </message>
</context>
<context>
    <name>PageOffice</name>
    <message>
        <source>Your PC performance is pretty good</source>
        <translation>Ihr PC läuft recht gut</translation>
    </message>
    <message>
        <source>Your PC is overburden</source>
        <translation>Ihr PC ist überlastet</translation>
    </message>
    <message>
        <source>Your PC is out of memory</source>
        <translation>Ihr PC hat keinen freien Speicher</translation>
    </message>
    <message>
        <source>PC BOOST</source>
        <translation>PC-BOOST</translation>
    </message>
    <message>
        <source>Boosting...</source>
        <translation>Wird beschleunigt …</translation>
    </message>
</context>
<context>
    <name>PageGame</name>
    <message>
        <source>Excellent to play game</source>
        <translation>Bestens zum Spielen</translation>
    </message>
    <message>
        <source>Slow to play game</source>
        <translation>Langsam zum Spielen</translation>
    </message>
    <message>
        <source>Frozen to play game</source>
        <translation>Zu träge zum Spielen</translation>
    </message>
    <message>
        <source>GAME BOOST</source>
        <translation>SPIEL-BOOST</translation>
    </message>
    <message>
        <source>Score</source>
        <translation>Wertung</translation>
    </message>
</context>
<context>
    <name>PageNetwork</name>
    <message>
        <source>Network is OK</source>
        <translation>Netzwerk ist OK</translation>
    </message>
    <message>
        <source>Network is disconnected</source>
        <translation>Netzwerk ist getrennt</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Empfangen</translation>
    </message>
    <message>
        <source>Upload</source>
        <translation>Gesendet</translation>
    </message>
</context>
</TS>
