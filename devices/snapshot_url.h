// The snapshot URL of a network camera, built from its settings by the
// camera-type code: a family number times 100000 plus a model number.
//
// The settings come from the settings file, the console and peers, so every
// piece is checked before it goes into a URL: the host must be a host name or
// address (optionally with ":port"), the port a number, user name and password
// are percent-encoded, and a typed-in URL must be http or https. A URL that
// cannot be built safely is not built: the camera then fetches nothing.
#pragma once

#include <string>

struct dvrSnapshotAddress {
  int ctype = 0;
  std::string host;
  std::string port;
  std::string username;
  std::string password;
  int channel = 1;
  int resolution = 0;
  int quality = 80;
};

struct dvrSnapshotUrl {
  std::string url;    // what is fetched
  std::string shown;  // the same with the password masked, for the log and the settings
};

enum class dvrSnapshotProblem {
  none,
  noModel,     // ctype outside the families: nothing to fetch
  noHost,      // host empty
  badHost,     // host is not a host name or address
  badPort,     // port is not a number from 1 to 65535
  badScheme,   // a typed-in URL that is not http:// or https://
};

// Builds the URL; out is filled only when the answer is none.
dvrSnapshotProblem dvrBuildSnapshotUrl(const dvrSnapshotAddress& address, dvrSnapshotUrl& out);

// A URL with the password of its user information replaced by "****".
std::string dvrMaskUrlPassword(const std::string& url);

// Percent-encodes everything but the unreserved characters (A-Z a-z 0-9 - . _ ~).
std::string dvrPercentEncode(const std::string& text);
