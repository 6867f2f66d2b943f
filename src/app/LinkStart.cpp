#include "LinkStart.h"

#include <QLineEdit>

#include "IrcLink.h"
#include "Main.h"

namespace zorv {

void OpenLink(TMainForm& form, const std::string& link) {
  const IrcLinkParse parsed = ParseIrcLink(link);
  if (!parsed.ok) {
    form.AddText("Server", "*** Cannot open the link: " + parsed.error, true);
    return;
  }
  const IrcLink& l = parsed.link;
  form.EditServer->setText(QString::fromLatin1(l.host));
  form.EditPort->setText(QString::fromLatin1(l.port));
  if (l.secure) {
    form.AddText("Server",
                 "*** Secure connections (ircs://) are not available yet: not connecting to " + l.host + " port " +
                     l.port,
                 true);
    return;
  }
  form.JoinWhenRegistered(l.host, l.port, l.channels);
  form.BtnConnectClick();
}

}  // namespace zorv
