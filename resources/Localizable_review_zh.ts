<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh">
<context>
    <name>Localizable_review</name>
    <message>
        <source>Enjoying Lorvanta?</source>
        <translation>喜欢 Lorvanta 吗？</translation>
    </message>
    <message>
        <source>If you like it, please take a moment to rate it.</source>
        <translation>如果您喜欢它，请花一点时间为它评分。</translation>
    </message>
    <message>
        <source>Rate Lorvanta</source>
        <translation>评价 Lorvanta</translation>
    </message>
    <message>
        <source>Not Now</source>
        <translation>以后再说</translation>
    </message>
</context>
</TS>
