/* The mailbox-server client library: one object per mailbox, which fetches the
 * mailbox's preferences and stores changed ones (a new password) on the mailbox
 * server.
 *
 * Protocol: TLS to the server's address and port; the server certificate is verified
 * against the file named by the registry value "CACertificate" under
 * HKEY_LOCAL_MACHINE "SOFTWARE\Quillmere\Viewer\Settings" when that value names a
 * readable certificate file, and any certificate is accepted when the value is
 * missing or empty. A value naming a file that cannot be used, or a registry that
 * cannot be read, fails the call (nothing is sent unverified). Messages are frames
 * (eight decimal digits of length, a line feed, the packet text of "name:value\n"
 * lines). One request and one answer per connection; connecting and waiting for the
 * answer are each bounded by 10 s (times VANTIRO_TIME_SCALE).
 *
 * A stop check, when set, is asked while connecting, sending and waiting for an
 * answer, so that a caller told to stop is not held for the whole bound; a put whose
 * request has gone out waits for its answer all the same (within the bound), since
 * the server may already have taken the change and the caller must learn whether it
 * did.
 *
 * Threads: an object is used by one thread at a time; separate objects are
 * independent; the stop check may read a flag another thread sets. No password
 * reaches any output of the library, and the object clears its copies of the
 * password (and the requests that carried it) from memory once they are used. */
#ifndef VANTIRO_MCAPI_H
#define VANTIRO_MCAPI_H

#include <cstdint>
#include <functional>
#include <string>

#include "hashtable.h"

class MessageCenterAPI {
 public:
  MessageCenterAPI(const std::string& address, std::int16_t port, const std::string& profile,
                   const std::string& password);
  ~MessageCenterAPI();
  MessageCenterAPI(const MessageCenterAPI&) = delete;
  MessageCenterAPI& operator=(const MessageCenterAPI&) = delete;

  /* Request "command:get_preferences", "profile", "password"; the answer "result:ok"
   * with one field "pref.KEY:VALUE" per preference. Puts every preference into table
   * as a string value (KEY without "pref."). 0 on "ok", -2 for any other result, -1
   * when no answer could be had (no connection, no valid answer in time). */
  int getPreferences(HASHTABLE* table);

  /* Request "command:put_preferences", "profile", "password" (the current one, as
   * given at construction) and "pref.KEY:VALUE" for each string entry of table. 0 on
   * "ok", 1 for any other result, -1 when no answer could be had. */
  int putPreferences(HASHTABLE* table);

  /* Closes the connection, if one is open. Calling it again does nothing. */
  void disconnect();

  /* Sets the stop check (empty: none). A call that it stops returns -1. */
  void setStopCheck(std::function<bool()> stop);

 private:
  struct Impl;
  Impl* impl_;
};

#endif
