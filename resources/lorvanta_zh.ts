<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- The application's texts in Chinese; the English texts in the code and in main.ui are the
     sources and stand for every other language. One context per class that shows texts:
     MainWindow holds main.ui's texts. -->
<TS version="2.1" language="zh_CN">
<context>
    <name>MainWindow</name>
    <message>
        <source>Type or paste the text to speak here.</source>
        <translation>在此输入或粘贴要朗读的文字。</translation>
    </message>
    <message>
        <source>Voice:</source>
        <translation>声音：</translation>
    </message>
    <message>
        <source>System Default Voice</source>
        <translation>系统默认声音</translation>
    </message>
    <message>
        <source>Rate:</source>
        <translation>语速：</translation>
    </message>
    <message>
        <source>words per minute</source>
        <translation>词/分钟</translation>
    </message>
    <message>
        <source>Pitch:</source>
        <translation>音高：</translation>
    </message>
    <message>
        <source>cents</source>
        <translation>音分</translation>
    </message>
    <message>
        <source>Save…</source>
        <translation>保存…</translation>
    </message>
    <message>
        <source>Speak</source>
        <translation>朗读</translation>
    </message>
    <message>
        <source>About Lorvanta</source>
        <translation>关于 Lorvanta</translation>
    </message>
    <message>
        <source>More Apps…</source>
        <translation>更多应用…</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>退出(&amp;Q)</translation>
    </message>
</context>
<context>
    <name>ViewController</name>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>%1.</source>
        <translation>%1。</translation>
    </message>
    <message>
        <source>%1: %2.</source>
        <translation>%1：%2。</translation>
    </message>
    <message>
        <source>The speech could not be synthesised</source>
        <translation>无法合成语音</translation>
    </message>
    <message>
        <source>The speech could not be played</source>
        <translation>无法播放语音</translation>
    </message>
    <message>
        <source>The speech could not be saved</source>
        <translation>无法保存语音</translation>
    </message>
    <message>
        <source>Saving &apos;%1&apos;…</source>
        <translation>正在保存“%1”…</translation>
    </message>
    <message>
        <source>The speech could not be saved to &apos;%1&apos;</source>
        <translation>无法将语音保存到“%1”</translation>
    </message>
    <message>
        <source>the speech could not be rendered</source>
        <translation>无法渲染语音</translation>
    </message>
    <message>
        <source>the text is too long to be spoken in one piece</source>
        <translation>文字太长，无法一次读完</translation>
    </message>
    <message>
        <source>the speech engine could not be started</source>
        <translation>语音引擎无法启动</translation>
    </message>
    <message>
        <source>the speaking rate could not be set</source>
        <translation>无法设置语速</translation>
    </message>
    <message>
        <source>the speech engine failed</source>
        <translation>语音引擎出错</translation>
    </message>
    <message>
        <source>no audio output device</source>
        <translation>没有音频输出设备</translation>
    </message>
    <message>
        <source>no sound server is running</source>
        <translation>没有正在运行的声音服务器</translation>
    </message>
    <message>
        <source>the sound server did not open a playback stream</source>
        <translation>声音服务器没有打开播放流</translation>
    </message>
    <message>
        <source>the connection to the sound server was lost</source>
        <translation>与声音服务器的连接已断开</translation>
    </message>
    <message>
        <source>the sound server ended the playback stream</source>
        <translation>声音服务器结束了播放流</translation>
    </message>
    <message>
        <source>the sound server stopped taking sound</source>
        <translation>声音服务器不再接收声音</translation>
    </message>
    <message>
        <source>unsupported output format</source>
        <translation>不支持的输出格式</translation>
    </message>
</context>
<context>
    <name>QAbstractFileIconProvider</name>
    <!-- Qt's own texts that its Chinese translation lacks (the save panel's type column). -->
    <message>
        <source>Folder</source>
        <translation>文件夹</translation>
    </message>
    <message>
        <source>File</source>
        <translation>文件</translation>
    </message>
    <message>
        <source>%1 File</source>
        <translation>%1 文件</translation>
    </message>
    <message>
        <source>Drive</source>
        <translation>驱动器</translation>
    </message>
    <message>
        <source>Shortcut</source>
        <translation>快捷方式</translation>
    </message>
</context>
<context>
    <name>QFileDialog</name>
    <message>
        <source>Save</source>
        <translation>保存</translation>
    </message>
</context>
<context>
    <name>SavePanel</name>
    <message>
        <source>Speech.wav</source>
        <translation>语音.wav</translation>
    </message>
</context>
</TS>
