#include "cloud/http/method.h"

namespace brisel::cloud {

const HTTPMethod& HTTPMethod::connect() {
    static const HTTPMethod method{"CONNECT"};
    return method;
}

const HTTPMethod& HTTPMethod::deleteMethod() {
    static const HTTPMethod method{"DELETE"};
    return method;
}

const HTTPMethod& HTTPMethod::get() {
    static const HTTPMethod method{"GET"};
    return method;
}

const HTTPMethod& HTTPMethod::head() {
    static const HTTPMethod method{"HEAD"};
    return method;
}

const HTTPMethod& HTTPMethod::options() {
    static const HTTPMethod method{"OPTIONS"};
    return method;
}

const HTTPMethod& HTTPMethod::patch() {
    static const HTTPMethod method{"PATCH"};
    return method;
}

const HTTPMethod& HTTPMethod::post() {
    static const HTTPMethod method{"POST"};
    return method;
}

const HTTPMethod& HTTPMethod::put() {
    static const HTTPMethod method{"PUT"};
    return method;
}

const HTTPMethod& HTTPMethod::trace() {
    static const HTTPMethod method{"TRACE"};
    return method;
}

}  // namespace brisel::cloud
