#pragma once
// Options of the conversation windows kept in the settings file (section
// "Client Info"): whether what they show is logged, how many lines the
// active window keeps (0: no bound), whether long lines wrap, and whether
// new lines show the time they arrived. The values are properties of this object
// so that the settings component reads and writes them like those of a control.
#include <QObject>
#include <QStringList>

class ClientOptions : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool Logging MEMBER logging)
  Q_PROPERTY(int ScrollbackLines MEMBER scrollbackLines)
  Q_PROPERTY(bool WordWrap MEMBER wordWrap)
  Q_PROPERTY(bool Timestamps MEMBER timestamps)

 public:
  explicit ClientOptions(QObject* parent) : QObject(parent) { setObjectName("ClientOptions"); }

  static QStringList settingsItems() {
    return {QStringLiteral("ClientOptions;Logging;1;Client Info;Logging;1;0"),
            QStringLiteral("ClientOptions;ScrollbackLines;5000;Client Info;ScrollbackLines;1;0"),
            QStringLiteral("ClientOptions;WordWrap;1;Client Info;WordWrap;1;0"),
            QStringLiteral("ClientOptions;Timestamps;0;Client Info;Timestamps;1;0")};
  }

  bool logging = true;
  int scrollbackLines = 5000;
  bool wordWrap = true;
  bool timestamps = false;
};
