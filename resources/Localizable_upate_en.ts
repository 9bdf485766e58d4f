<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>Localizable_upate</name>
    <message>
        <source>检测到新版本</source>
        <translation>A New Version Is Available</translation>
    </message>
    <message>
        <source>本地版本</source>
        <translation>Installed version</translation>
    </message>
    <message>
        <source>最新版本</source>
        <translation>Latest version</translation>
    </message>
    <message>
        <source>去更新</source>
        <translation>Update</translation>
    </message>
    <message>
        <source>跳过本版本更新</source>
        <translation>Skip This Version</translation>
    </message>
    <message>
        <source>以后再说</source>
        <translation>Not Now</translation>
    </message>
</context>
</TS>
