// C-style stand-ins for the engine objects the site supplier and the
// authentication manager talk to: explicit tables of __stdcall functions, so
// that the plug-in's slot order is checked independently of core/rma.h.
// Each counts its references and records the calls it expects; any other
// call fails the test.  Sites create real windows.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace standin {

// One interface of a stand-in: its table and the object behind it.
struct Face {
    const void* const* table;
    void* owner;
};

struct World;

struct Buffer {
    Face face;
    World* world;
    LONG refs;
    std::string text;
};

struct Values {
    Face face;
    World* world;
    LONG refs;
    std::map<std::string, Buffer*> strings;  // holds one reference each
};

struct Site {
    Face windowed, site, values;
    World* world;
    LONG refs;
    int id;                                       // creation order, from 1
    std::map<std::string, std::string> properties;
    std::vector<Buffer*> held;                    // buffers stored by SetPropertyCString
    bool positioned = false;
    POINT position = {};
    HWND parent = nullptr;
    DWORD style = 0;
    HWND window = nullptr;
    int creates = 0, destroys = 0;
    struct {
        void* window;
        ULONG x, y, width, height;
        LONG clip[4];
    } record = {};
};

struct Simple {
    Face face;
    World* world;
    LONG refs;
};

struct Response {
    Face face;
    World* world;
    LONG refs;
    HRESULT answer = 0;  // what AuthenticationRequestDone returns
    struct Call {
        HRESULT result;
        const char* user;
        const char* password;
    };
    std::vector<Call> calls;
};

// One player with its site manager and class factory, and everything they create.
struct World {
    World();
    ~World();

    // Settings: what the stand-ins answer.
    bool hideSiteManager = false;
    bool hideClassFactory = false;
    HRESULT createInstanceResult = 0;
    HRESULT siteQueryResult = 0;    // windowed site -> IRMASite
    HRESULT valuesQueryResult = 0;  // windowed site -> IRMAValues
    HRESULT addSiteResult = 0;
    HRESULT createResult = 0;

    Simple player, siteManager, classFactory;
    std::vector<std::unique_ptr<Site>> sites;
    std::vector<std::unique_ptr<Buffer>> buffers;
    std::vector<std::unique_ptr<Values>> values;
    std::vector<std::string> calls;  // "AddSite 1", "RemoveSite 1", "CreateInstance", ...

    // A request's properties, held by the test (one reference).
    Values* NewValues(const std::map<std::string, std::string>& strings);
    Response* NewResponse();
    std::vector<std::unique_ptr<Response>> responses;

    // Sites whose window still exists.
    int LiveWindows() const;
    int Count(const std::string& call) const;
    // Checks every reference is back where it started: the test's own on
    // player, values and responses, the player's on manager and factory, none on sites.
    void ExpectBalanced() const;
};

// The interfaces as the plug-in declares them, for handing stand-ins over.
template <class T>
T* As(Face& face) { return reinterpret_cast<T*>(&face); }

}  // namespace standin
