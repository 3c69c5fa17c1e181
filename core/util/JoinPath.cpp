#include "core/util/JoinPath.h"

#include <Poco/Path.h>

namespace OrvaneClient {

std::string JoinPath(const std::string& directory, const std::string& relative) {
    Poco::Path joined(directory, Poco::Path::PATH_WINDOWS);
    joined.makeDirectory();
    joined.append(Poco::Path(relative, Poco::Path::PATH_WINDOWS));
    return joined.toString(Poco::Path::PATH_WINDOWS);
}

}  // namespace OrvaneClient
