#pragma once
// The line mode layer of the socket component.
#include <string>

#include "WSocketSsl.h"

// Line mode: with LineMode on, OnDataAvailable fires once per complete line
// (ending in LineEnd), and Receive in the handler returns that line.
class TCustomLineWSocket : public TCustomSslWSocket {
  Q_OBJECT
 public:
  explicit TCustomLineWSocket(QObject* owner = nullptr);

  void Connect() override;
  int RcvdCount() override;

  bool LineMode() const { return lineMode_; }
  virtual void SetLineMode(bool on);
  std::string LineEnd() const { return lineEnd_; }
  void SetLineEnd(const std::string& lineEnd) { lineEnd_ = lineEnd; }
  // Bytes received and not yet handed out as lines.
  int BufferedLineBytes() const { return static_cast<int>(rcvdBuf_.size()); }

  TEvent OnLineTooLong;  // kept for compatibility; never raised

 protected:
  void WndProc(zorv::TSocketMessage& msg) override;
  bool TriggerDataAvailable(uint16_t error) override;
  void TriggerSessionClosed(uint16_t error) override;
  int DoRecv(void* buf, int len, int flags) override;

 private:
  void DeliverLines(uint16_t error);

  bool lineMode_ = false;
  std::string lineEnd_ = "\r\n";
  std::string rcvdBuf_;
  int lineLength_ = 0;  // length of the line being delivered, 0 when none
  bool delivering_ = false;
};
