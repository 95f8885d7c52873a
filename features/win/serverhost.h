// The maker's web server: the host of every web address of the viewer.
#ifndef VS_FEATURES_SERVERHOST_H
#define VS_FEATURES_SERVERHOST_H

#include <string>

// The "UpdateHost" setting's value name.
extern const char kValueUpdateHost[];
// "UpdateHost" of the viewer's key, else string 19.
std::string ServerHost();

#endif
