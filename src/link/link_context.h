#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/frontend.h"
#include "common/notices.h"
#include "common/timing.h"
#include "link/offer_slots.h"
#include "platform/socket.h"
#include "transfer/transfer_context.h"

namespace brisk {

// What the offer, message and transfer code of link/ needs of the Peer it works for. The
// Peer implements it; nothing outside link/ sees it. Every operation may be called from
// any Peer thread.
class LinkContext {
 public:
  virtual Frontend& frontend() = 0;
  virtual const Notices& notices() const = 0;
  virtual const Timing& timing() const = 0;
  virtual OfferSlots& offers() = 0;

  // Hands a control message (UTF-8) to the connection's writer; see Peer::sendText.
  virtual int sendText(const std::string& text) = 0;
  // The peer has answered this side's offer under `index`, so it has read the offer on
  // its own: what follows need not keep the pause after it.
  virtual void offerAnswered(int index) = 0;
  // Keeps a place among the person's messages for an offer being composed; 0 after a
  // notice (not connected, too much waiting).
  virtual std::uint64_t reserveOfferPlace() = 0;
  // Fills the kept place with the offer's ASK (UTF-8); `done` runs with whether it went out.
  // False (and no `done`) when the place was dropped meanwhile.
  virtual bool queueOffer(std::uint64_t place, int index, const std::string& text,
                          std::function<void(bool sent)> done) = 0;
  virtual void withdrawOfferPlace(std::uint64_t place) = 0;

  // Starts a thread that the Peer joins at shutdown.
  virtual void startThread(std::function<void()> work) = 0;
  virtual bool stopping() const = 0;

  virtual bool connected() const = 0;
  // This side pressed Connect: it connects every data connection, the peer listens.
  virtual bool connectingPeer() const = 0;
  virtual int controlPort() const = 0;
  // The address the control connection's peer has.
  virtual IpAddress controlPeerAddress() const = 0;
  // Whether the control connection is an encrypted session with a verified peer.
  virtual bool sessionEncrypted() const = 0;
  // What both sides of an encrypted session named in their capability lines (nothing in a
  // plain session). Later Brisk-to-Brisk improvements are used only when listed here.
  virtual std::vector<std::string> sharedCapabilities() const = 0;
  // How the data connections of transfer `index` are made encrypted; empty in a plain
  // session.
  virtual DataSessionStart dataSessionFor(int index) = 0;
  virtual bool autoClose() const = 0;
  virtual void setAutoClose(bool on) = 0;

 protected:
  ~LinkContext() = default;
};

}  // namespace brisk
