#include "devices/snapshot_url.h"

#include <cctype>
#include <string_view>

namespace {

constexpr const char* kMask = "****";

bool isUnreserved(unsigned char c) {
  return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

bool allDigits(std::string_view text) {
  if (text.empty()) return false;
  for (unsigned char c : text)
    if (!std::isdigit(c)) return false;
  return true;
}

// A decimal port from 1 to 65535 without sign or blanks.
bool parsePort(std::string_view text, int& port) {
  if (!allDigits(text) || text.size() > 5) return false;
  port = 0;
  for (char c : text) port = port * 10 + (c - '0');
  return port >= 1 && port <= 65535;
}

// A host name or IPv4 address, or an IPv6 address in brackets, optionally
// followed by ":port". Nothing that could start a path, a query, user
// information or a second URL.
bool validHost(std::string_view host) {
  std::string_view name = host;
  std::string_view port;
  if (!name.empty() && name.front() == '[') {
    const std::size_t close = name.find(']');
    if (close == std::string_view::npos || close < 2) return false;
    for (unsigned char c : name.substr(1, close - 1))
      if (!std::isxdigit(c) && c != ':' && c != '.') return false;
    std::string_view rest = name.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port = rest.substr(1);
      int number = 0;
      if (!parsePort(port, number)) return false;
    }
    return true;
  }
  const std::size_t colon = name.find(':');
  if (colon != std::string_view::npos) {
    port = name.substr(colon + 1);
    name = name.substr(0, colon);
    int number = 0;
    if (!parsePort(port, number)) return false;
  }
  if (name.empty() || name.size() > 253) return false;
  for (unsigned char c : name)
    if (!std::isalnum(c) && c != '-' && c != '.' && c != '_') return false;
  return true;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  return true;
}

// A typed-in URL: http or https, and no blanks or control characters.
bool validTypedUrl(std::string_view url) {
  if (!startsWithNoCase(url, "http://") && !startsWithNoCase(url, "https://")) return false;
  for (unsigned char c : url)
    if (c <= ' ' || c == 0x7f) return false;
  return true;
}

std::string axisPart(const dvrSnapshotAddress& a) {
  const bool high = a.resolution == 1;
  std::string part;
  switch (a.ctype) {
    case 100205: part = std::string("/jpg/image.jpg?resolution=") + (high ? "640x480" : "320x240"); break;
    case 102100: part = std::string("/jpg") + (high ? "/hugesize.jpg" : "/fullsize.jpg"); break;
    case 100200: part = high ? "/hugesize.jpg" : "/fullsize.jpg"; break;
    case 102400:
      part = "/axis-cgi/jpg/image.cgi?camera=" + std::to_string(a.channel) + "&resolution=" +
             (high ? "4CIF" : "CIF");
      break;
    default: break;
  }
  return part;
}

std::string panasonicPart(const dvrSnapshotAddress& a) {
  if (a.ctype == 200010) {
    const char* quality = a.quality > 65 ? "Clarity" : a.quality >= 33 ? "Standard" : "Motion";
    return std::string("/SnapshotJPEG?Resolution=") + (a.resolution == 1 ? "640x480" : "320x240") +
           "&Quality=" + quality;
  }
  if (a.ctype == 200100) return "/cgi-bin/camera?Session=0";
  return "";
}

std::string vivotekPart(const dvrSnapshotAddress& a) {
  std::string part;
  if (a.ctype == 300000) part = "/cgi-bin/video.jpg";
  if (a.ctype == 302402) part = "/cgi-bin/video" + std::to_string(a.channel) + ".jpg";
  return part + "?quality=" + std::to_string(a.quality / 20 + 1) + "&size=" + std::to_string(a.resolution + 2);
}

}  // namespace

std::string dvrPercentEncode(const std::string& text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (isUnreserved(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string dvrMaskUrlPassword(const std::string& url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string::npos) return url;
  const std::size_t authority = scheme + 3;
  std::size_t end = url.find_first_of("/?#", authority);
  if (end == std::string::npos) end = url.size();
  const std::size_t at = url.rfind('@', end);
  if (at == std::string::npos || at < authority) return url;
  const std::size_t colon = url.find(':', authority);
  if (colon == std::string::npos || colon > at || colon + 1 == at) return url;  // no password
  return url.substr(0, colon + 1) + kMask + url.substr(at);
}

dvrSnapshotProblem dvrBuildSnapshotUrl(const dvrSnapshotAddress& a, dvrSnapshotUrl& out) {
  if (a.host.empty()) return dvrSnapshotProblem::noHost;
  const int family = a.ctype / 100000;
  if (a.ctype < 0 || (a.ctype > 0 && a.ctype < 100000) || family > 7) return dvrSnapshotProblem::noModel;

  if (a.ctype == 0) {
    // A URL typed in whole: used as it stands, once it is a web address.
    if (!validTypedUrl(a.host)) return dvrSnapshotProblem::badScheme;
    out.url = a.host;
    out.shown = dvrMaskUrlPassword(a.host);
    return dvrSnapshotProblem::none;
  }
  if (!validHost(a.host)) return dvrSnapshotProblem::badHost;
  int port = 0;
  if (!a.port.empty() && !parsePort(a.port, port)) return dvrSnapshotProblem::badPort;

  // Axis (1) and Panasonic (2) take no credentials in the URL.
  const bool credentials = family != 1 && family != 2 && !a.username.empty();
  std::string user, shownUser;
  if (credentials) {
    user = dvrPercentEncode(a.username) + ":" + dvrPercentEncode(a.password) + "@";
    shownUser = dvrPercentEncode(a.username) + ":" + (a.password.empty() ? "" : kMask) + "@";
  }
  std::string hostPort = a.host;
  if (port != 0) hostPort += ":" + std::to_string(port);
  else if (family == 7) hostPort += ":8080";

  std::string part;
  switch (family) {
    case 1:
      part = axisPart(a);
      if (a.quality >= 1 && a.quality <= 100)
        part += std::string(part.find('?') == std::string::npos ? "?" : "&") + "compression=" +
                std::to_string(100 - a.quality);
      break;
    case 2: part = panasonicPart(a); break;
    case 3: part = vivotekPart(a); break;
    case 4: part = "/record/current.jpg"; break;
    case 5: part = "/images" + std::to_string(a.channel) + (a.resolution == 1 ? "full" : "sif"); break;
    case 6: part = "/oneshotimage.jpg"; break;
    case 7:
      part = "/camera/" + std::to_string(a.channel) + ".jpg" +
             (a.resolution == 1 ? "?width=704&height=576" : "?width=352&height=288") +
             "&quality=" + std::to_string(a.quality);
      break;
    default: break;
  }
  out.url = "http://" + user + hostPort + part;
  out.shown = "http://" + shownUser + hostPort + part;
  return dvrSnapshotProblem::none;
}
