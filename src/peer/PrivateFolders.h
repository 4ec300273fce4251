#pragma once

#include <string>
#include <vector>

namespace morvex::peer {

// The folders no peer may make a sync folder of, nor browse: the service's
// metadir (its database holds this device's private key and its trust) and
// the user's credential stores under the home folder (.ssh, .gnupg, .pki,
// .password-store, .local/share/keyrings, .config/Morvex). Trust lets a
// device browse and link the user's folders; these would hand it the keys
// to more than that.
//
// A folder that merely contains one of them (the home folder itself) stays
// usable: syncing the whole home is a choice some users make.
//
// Threads: a plain value, made per request.
class PrivateFolders {
 public:
  // For the service whose application folder is `appDir` ("<metadir>/Morvex";
  // its parent, the metadir, is covered) and the current home folder.
  static PrivateFolders For(const std::string& appDir);

  // True when `path` is one of the folders or lies inside one, by whole path
  // components, compared both as written and with links and ".." resolved.
  bool Covers(const std::string& path) const;

 private:
  void Add(const std::string& folder);

  // Each folder as written and, when it exists, as resolved.
  std::vector<std::string> folders_;
};

}  // namespace morvex::peer
