<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ar_EG" sourcelanguage="en_US">
<context>
    <name>tst_SettingsController</name>
    <message>
        <source>Preferences</source>
        <translation>التفضيلات</translation>
    </message>
</context>
</TS>
