<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>Sample</name>
    <message>
        <source>有新版本</source>
        <translation>Neue Version verfügbar</translation>
    </message>
    <message>
        <source>untranslated</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Other</name>
    <message>
        <source>有新版本</source>
        <translation>Falscher Kontext</translation>
    </message>
</context>
</TS>
