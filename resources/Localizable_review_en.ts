<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>Localizable_review</name>
    <message>
        <source>Enjoying Lorvanta?</source>
        <translation>Enjoying Lorvanta?</translation>
    </message>
    <message>
        <source>If you like it, please take a moment to rate it.</source>
        <translation>If you like it, please take a moment to rate it.</translation>
    </message>
    <message>
        <source>Rate Lorvanta</source>
        <translation>Rate Lorvanta</translation>
    </message>
    <message>
        <source>Not Now</source>
        <translation>Not Now</translation>
    </message>
</context>
</TS>
