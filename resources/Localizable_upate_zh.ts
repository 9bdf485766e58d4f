<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh">
<context>
    <name>Localizable_upate</name>
    <message>
        <source>检测到新版本</source>
        <translation>检测到新版本</translation>
    </message>
    <message>
        <source>本地版本</source>
        <translation>本地版本</translation>
    </message>
    <message>
        <source>最新版本</source>
        <translation>最新版本</translation>
    </message>
    <message>
        <source>去更新</source>
        <translation>去更新</translation>
    </message>
    <message>
        <source>跳过本版本更新</source>
        <translation>跳过本版本更新</translation>
    </message>
    <message>
        <source>以后再说</source>
        <translation>以后再说</translation>
    </message>
</context>
</TS>
