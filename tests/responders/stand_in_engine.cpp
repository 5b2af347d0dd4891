#include "stand_in_engine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>

namespace standin {
namespace {

// Ids as the engine publishes them: {xxxxxxxx-0901-11D1-8B06-00A024406D59}.
GUID EngineId(unsigned long first) {
    return GUID{first, 0x0901, 0x11D1, {0x8B, 0x06, 0x00, 0xA0, 0x24, 0x40, 0x6D, 0x59}};
}
const GUID kUnknown = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID kSiteWindowed = EngineId(0x0D01);
const GUID kSite = EngineId(0x0D03);
const GUID kSiteManager = EngineId(0x0D08);
const GUID kClassFactory = EngineId(0x0000);
const GUID kValues = EngineId(0x1302);

bool Same(const GUID* a, const GUID& b) { return std::memcmp(a, &b, sizeof(GUID)) == 0; }

enum Kind { kPlayer, kManager, kFactory, kWindowed, kSiteFace, kSiteValues, kRequestValues, kBuffer, kResponse };
const char* const kKindNames[] = {"Player", "SiteManager", "ClassFactory", "SiteWindowed", "Site",
                                  "Site's values", "request values", "Buffer", "AuthenticationResponse"};

template <class R>
R FailValue() {
    if constexpr (std::is_pointer_v<R>) {
        return nullptr;
    } else {
        return static_cast<R>(E_FAIL);
    }
}

// Fills every slot the plug-in must not call; the argument list keeps the
// callee's stack clean-up right, so a wrong call fails the test and nothing else.
template <int K, int Slot, class R, class... A>
R __stdcall Unexpected(Face*, A...) {
    ADD_FAILURE() << "unexpected call: " << kKindNames[K] << " slot " << Slot;
    return FailValue<R>();
}

template <class T>
T* Owner(Face* face) { return static_cast<T*>(face->owner); }

template <class T>
void ExpectAlive(T* object, const char* call) {
    EXPECT_GT(object->refs, 0) << call << " on a released object";
}

void OnFreed(Simple*) {}
void OnFreed(Buffer*) {}
void OnFreed(Values*) {}
void ReleaseBuffer(Buffer* buffer);
void OnFreed(Site* site) {
    for (Buffer* buffer : site->held) ReleaseBuffer(buffer);
    site->held.clear();
}
void OnFreed(Response*) {}

template <class T>
ULONG __stdcall AddRefOf(Face* face) {
    T* object = Owner<T>(face);
    ExpectAlive(object, "AddRef");
    return static_cast<ULONG>(InterlockedIncrement(&object->refs));
}

template <class T>
ULONG __stdcall ReleaseOf(Face* face) {
    T* object = Owner<T>(face);
    ExpectAlive(object, "Release");
    LONG left = InterlockedDecrement(&object->refs);
    if (left == 0) OnFreed(object);
    return static_cast<ULONG>(left);
}

void ReleaseBuffer(Buffer* buffer) { ReleaseOf<Buffer>(&buffer->face); }

// ---- player ----------------------------------------------------------------

HRESULT __stdcall PlayerQueryInterface(Face* face, const GUID* id, void** out) {
    World* world = Owner<Simple>(face)->world;
    *out = nullptr;
    Simple* answer = nullptr;
    if (Same(id, kSiteManager) && !world->hideSiteManager) answer = &world->siteManager;
    if (Same(id, kClassFactory) && !world->hideClassFactory) answer = &world->classFactory;
    if (!answer) return E_NOINTERFACE;
    AddRefOf<Simple>(&answer->face);
    *out = &answer->face;
    return S_OK;
}

const void* const kPlayerTable[] = {
    reinterpret_cast<const void*>(&PlayerQueryInterface),
    reinterpret_cast<const void*>(&AddRefOf<Simple>),
    reinterpret_cast<const void*>(&ReleaseOf<Simple>),
    reinterpret_cast<const void*>(&Unexpected<kPlayer, 4, HRESULT, void**>),
    reinterpret_cast<const void*>(&Unexpected<kPlayer, 5, LONG>),
    reinterpret_cast<const void*>(&Unexpected<kPlayer, 6, LONG>),
    reinterpret_cast<const void*>(&Unexpected<kPlayer, 7, ULONG>),
    reinterpret_cast<const void*>(&Unexpected<kPlayer, 8, HRESULT, const char*>),
    reinterpret_cast<const void*>(&Unexpected<kPlayer, 9, HRESULT>),
    reinterpret_cast<const void*>(&Unexpected<kPlayer, 10, HRESULT>),
    reinterpret_cast<const void*>(&Unexpected<kPlayer, 11, HRESULT>),
    reinterpret_cast<const void*>(&Unexpected<kPlayer, 12, HRESULT, ULONG>),
    reinterpret_cast<const void*>(&Unexpected<kPlayer, 13, unsigned short>),
    reinterpret_cast<const void*>(&Unexpected<kPlayer, 14, HRESULT, unsigned short, void**>),
    reinterpret_cast<const void*>(&Unexpected<kPlayer, 15, HRESULT, void*>),
    reinterpret_cast<const void*>(&Unexpected<kPlayer, 16, HRESULT, void**>),
    reinterpret_cast<const void*>(&Unexpected<kPlayer, 17, HRESULT, void*>),
    reinterpret_cast<const void*>(&Unexpected<kPlayer, 18, HRESULT, void*>),
};

// ---- site manager and class factory -----------------------------------------

Site* SiteOfFace(Face* siteFace) {
    EXPECT_EQ(siteFace->table, siteFace->owner ? static_cast<Site*>(siteFace->owner)->site.table : nullptr)
        << "not an IRMASite of a stand-in site";
    return Owner<Site>(siteFace);
}

HRESULT __stdcall AddSite(Face* face, Face* siteFace) {
    World* world = Owner<Simple>(face)->world;
    Site* site = SiteOfFace(siteFace);
    ExpectAlive(site, "AddSite");
    world->calls.push_back("AddSite " + std::to_string(site->id));
    return world->addSiteResult;
}

HRESULT __stdcall RemoveSite(Face* face, Face* siteFace) {
    World* world = Owner<Simple>(face)->world;
    Site* site = SiteOfFace(siteFace);
    ExpectAlive(site, "RemoveSite");
    world->calls.push_back("RemoveSite " + std::to_string(site->id));
    return S_OK;
}

const void* const kManagerTable[] = {
    reinterpret_cast<const void*>(&Unexpected<kManager, 1, HRESULT, const GUID*, void**>),
    reinterpret_cast<const void*>(&AddRefOf<Simple>),
    reinterpret_cast<const void*>(&ReleaseOf<Simple>),
    reinterpret_cast<const void*>(&AddSite),
    reinterpret_cast<const void*>(&RemoveSite),
};

Site* NewSite(World* world);

HRESULT __stdcall CreateInstance(Face* face, const GUID* classId, void** out) {
    World* world = Owner<Simple>(face)->world;
    world->calls.push_back("CreateInstance");
    EXPECT_TRUE(Same(classId, kSiteWindowed)) << "CreateInstance for another class";
    *out = nullptr;
    if (world->createInstanceResult != S_OK) return world->createInstanceResult;
    *out = &NewSite(world)->windowed;
    return S_OK;
}

const void* const kFactoryTable[] = {
    reinterpret_cast<const void*>(&Unexpected<kFactory, 1, HRESULT, const GUID*, void**>),
    reinterpret_cast<const void*>(&AddRefOf<Simple>),
    reinterpret_cast<const void*>(&ReleaseOf<Simple>),
    reinterpret_cast<const void*>(&CreateInstance),
    reinterpret_cast<const void*>(&Unexpected<kFactory, 5, HRESULT, const GUID*, void**, void*>),
};

// ---- windowed site ------------------------------------------------------------

HRESULT __stdcall SiteQueryInterface(Face* face, const GUID* id, void** out) {
    Site* site = Owner<Site>(face);
    ExpectAlive(site, "QueryInterface");
    World* world = site->world;
    *out = nullptr;
    Face* answer = nullptr;
    HRESULT refusal = E_NOINTERFACE;
    if (Same(id, kUnknown) || Same(id, kSiteWindowed)) {
        answer = &site->windowed;
    } else if (Same(id, kSite)) {
        if (world->siteQueryResult == S_OK) answer = &site->site;
        refusal = world->siteQueryResult;
    } else if (Same(id, kValues)) {
        if (world->valuesQueryResult == S_OK) answer = &site->values;
        refusal = world->valuesQueryResult;
    }
    if (!answer) return refusal;
    InterlockedIncrement(&site->refs);
    *out = answer;
    return S_OK;
}

const char kVideoClass[] = "StandInVideoSite";

HRESULT __stdcall SiteCreate(Face* face, void* parent, UINT32 style) {
    Site* site = Owner<Site>(face);
    ExpectAlive(site, "Create");
    site->world->calls.push_back("Create " + std::to_string(site->id));
    ++site->creates;
    site->parent = static_cast<HWND>(parent);
    site->style = style;
    if (site->world->createResult != S_OK) return site->world->createResult;
    static ATOM registered = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kVideoClass;
        return RegisterClassA(&wc);
    }();
    (void)registered;
    int x = site->positioned ? site->position.x : CW_USEDEFAULT;
    int y = site->positioned ? site->position.y : CW_USEDEFAULT;
    site->window = CreateWindowExA(0, kVideoClass, "", style, x, y, 320, 240, site->parent, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
    EXPECT_NE(site->window, nullptr) << "error " << GetLastError() << " parent " << site->parent << " style " << style;
    site->record.window = site->window;
    return site->window ? S_OK : E_FAIL;
}

HRESULT __stdcall SiteDestroy(Face* face) {
    Site* site = Owner<Site>(face);
    ExpectAlive(site, "Destroy");
    site->world->calls.push_back("Destroy " + std::to_string(site->id));
    ++site->destroys;
    if (site->window && IsWindow(site->window)) DestroyWindow(site->window);
    site->record.window = nullptr;  // as the engine's site does
    return S_OK;
}

void* __stdcall SiteGetWindow(Face* face) {
    Site* site = Owner<Site>(face);
    ExpectAlive(site, "GetWindow");
    return &site->record;
}

const void* const kWindowedTable[] = {
    reinterpret_cast<const void*>(&SiteQueryInterface),
    reinterpret_cast<const void*>(&AddRefOf<Site>),
    reinterpret_cast<const void*>(&ReleaseOf<Site>),
    reinterpret_cast<const void*>(&Unexpected<kWindowed, 4, HRESULT, void*>),
    reinterpret_cast<const void*>(&Unexpected<kWindowed, 5, HRESULT>),
    reinterpret_cast<const void*>(&SiteCreate),
    reinterpret_cast<const void*>(&SiteDestroy),
    reinterpret_cast<const void*>(&SiteGetWindow),
};

HRESULT __stdcall SiteSetPosition(Face* face, POINT position) {
    Site* site = Owner<Site>(face);
    ExpectAlive(site, "SetPosition");
    site->positioned = true;
    site->position = position;
    return S_OK;
}

const void* const kSiteTable[] = {
    reinterpret_cast<const void*>(&SiteQueryInterface),
    reinterpret_cast<const void*>(&AddRefOf<Site>),
    reinterpret_cast<const void*>(&ReleaseOf<Site>),
    reinterpret_cast<const void*>(&Unexpected<kSiteFace, 4, HRESULT, void*>),
    reinterpret_cast<const void*>(&Unexpected<kSiteFace, 5, HRESULT>),
    reinterpret_cast<const void*>(&Unexpected<kSiteFace, 6, HRESULT, void**>),
    reinterpret_cast<const void*>(&Unexpected<kSiteFace, 7, HRESULT, void**>),
    reinterpret_cast<const void*>(&Unexpected<kSiteFace, 8, HRESULT, void*>),
    reinterpret_cast<const void*>(&Unexpected<kSiteFace, 9, HRESULT, void*>),
    reinterpret_cast<const void*>(&Unexpected<kSiteFace, 10, HRESULT>),
    reinterpret_cast<const void*>(&SiteSetPosition),
    reinterpret_cast<const void*>(&Unexpected<kSiteFace, 12, HRESULT, void*>),
    reinterpret_cast<const void*>(&Unexpected<kSiteFace, 13, HRESULT, SIZE>),
    reinterpret_cast<const void*>(&Unexpected<kSiteFace, 14, HRESULT, void*>),
    reinterpret_cast<const void*>(&Unexpected<kSiteFace, 15, HRESULT, RECT>),
    reinterpret_cast<const void*>(&Unexpected<kSiteFace, 16, HRESULT, void*>),
    reinterpret_cast<const void*>(&Unexpected<kSiteFace, 17, HRESULT>),
};

Buffer* BufferOfFace(Face* face) {
    Buffer* buffer = Owner<Buffer>(face);
    ExpectAlive(buffer, "use of a buffer");
    return buffer;
}

HRESULT __stdcall SiteSetPropertyCString(Face* face, const char* name, Face* value) {
    Site* site = Owner<Site>(face);
    ExpectAlive(site, "SetPropertyCString");
    Buffer* buffer = BufferOfFace(value);
    site->world->calls.push_back(std::string("SetPropertyCString ") + name + "=" + buffer->text);
    site->properties[name] = buffer->text;
    AddRefOf<Buffer>(&buffer->face);
    site->held.push_back(buffer);
    return S_OK;
}

#define VALUES_TABLE(kind, set, get)                                                             \
    {                                                                                             \
        reinterpret_cast<const void*>(&Unexpected<kind, 4, HRESULT, const char*, ULONG>),         \
        reinterpret_cast<const void*>(&Unexpected<kind, 5, HRESULT, const char*, ULONG*>),        \
        reinterpret_cast<const void*>(&Unexpected<kind, 6, HRESULT, const char**, ULONG*>),       \
        reinterpret_cast<const void*>(&Unexpected<kind, 7, HRESULT, const char**, ULONG*>),       \
        reinterpret_cast<const void*>(&Unexpected<kind, 8, HRESULT, const char*, void*>),         \
        reinterpret_cast<const void*>(&Unexpected<kind, 9, HRESULT, const char*, void**>),        \
        reinterpret_cast<const void*>(&Unexpected<kind, 10, HRESULT, const char**, void**>),      \
        reinterpret_cast<const void*>(&Unexpected<kind, 11, HRESULT, const char**, void**>),      \
        reinterpret_cast<const void*>(set), reinterpret_cast<const void*>(get),                   \
        reinterpret_cast<const void*>(&Unexpected<kind, 14, HRESULT, const char**, void**>),      \
        reinterpret_cast<const void*>(&Unexpected<kind, 15, HRESULT, const char**, void**>),      \
    }

struct ValuesTable {
    const void* unknown[3];
    const void* rest[12];
};

const ValuesTable kSiteValuesTable = {
    {reinterpret_cast<const void*>(&SiteQueryInterface), reinterpret_cast<const void*>(&AddRefOf<Site>),
     reinterpret_cast<const void*>(&ReleaseOf<Site>)},
    VALUES_TABLE(kSiteValues, &SiteSetPropertyCString,
                 (&Unexpected<kSiteValues, 13, HRESULT, const char*, void**>)),
};

// ---- a request's properties, and buffers ---------------------------------------

HRESULT __stdcall RequestGetPropertyCString(Face* face, const char* name, Face** out) {
    Values* values = Owner<Values>(face);
    ExpectAlive(values, "GetPropertyCString");
    values->world->calls.push_back(std::string("GetPropertyCString ") + name);
    *out = nullptr;
    auto found = values->strings.find(name);
    if (found == values->strings.end()) return E_FAIL;
    AddRefOf<Buffer>(&found->second->face);
    *out = &found->second->face;
    return S_OK;
}

const ValuesTable kRequestValuesTable = {
    {reinterpret_cast<const void*>(&Unexpected<kRequestValues, 1, HRESULT, const GUID*, void**>),
     reinterpret_cast<const void*>(&AddRefOf<Values>), reinterpret_cast<const void*>(&ReleaseOf<Values>)},
    VALUES_TABLE(kRequestValues, (&Unexpected<kRequestValues, 12, HRESULT, const char*, void*>),
                 &RequestGetPropertyCString),
};

const void* const kBufferTable[] = {
    reinterpret_cast<const void*>(&Unexpected<kBuffer, 1, HRESULT, const GUID*, void**>),
    reinterpret_cast<const void*>(&AddRefOf<Buffer>),
    reinterpret_cast<const void*>(&ReleaseOf<Buffer>),
    reinterpret_cast<const void*>(&Unexpected<kBuffer, 4, HRESULT, void**, ULONG*>),
    reinterpret_cast<const void*>(&Unexpected<kBuffer, 5, HRESULT, const void*, ULONG>),
    reinterpret_cast<const void*>(&Unexpected<kBuffer, 6, HRESULT, ULONG>),
    reinterpret_cast<const void*>(&Unexpected<kBuffer, 7, ULONG>),
    reinterpret_cast<const void*>(&Unexpected<kBuffer, 8, void*>),
};

// ---- authentication response ----------------------------------------------------

HRESULT __stdcall AuthenticationRequestDone(Face* face, HRESULT result, const char* user, const char* password) {
    Response* response = Owner<Response>(face);
    ExpectAlive(response, "AuthenticationRequestDone");
    response->calls.push_back({result, user, password});
    return response->answer;
}

const void* const kResponseTable[] = {
    reinterpret_cast<const void*>(&Unexpected<kResponse, 1, HRESULT, const GUID*, void**>),
    reinterpret_cast<const void*>(&AddRefOf<Response>),
    reinterpret_cast<const void*>(&ReleaseOf<Response>),
    reinterpret_cast<const void*>(&AuthenticationRequestDone),
};

Site* NewSite(World* world) {
    auto site = std::make_unique<Site>();
    Site* raw = site.get();
    raw->windowed = {kWindowedTable, raw};
    raw->site = {kSiteTable, raw};
    raw->values = {reinterpret_cast<const void* const*>(&kSiteValuesTable), raw};
    raw->world = world;
    raw->refs = 1;
    raw->id = static_cast<int>(world->sites.size()) + 1;
    world->sites.push_back(std::move(site));
    return raw;
}

}  // namespace

World::World() {
    player = {{kPlayerTable, &player}, this, 1};
    siteManager = {{kManagerTable, &siteManager}, this, 1};
    classFactory = {{kFactoryTable, &classFactory}, this, 1};
}

World::~World() {
    for (auto& site : sites) {
        if (site->window && IsWindow(site->window)) DestroyWindow(site->window);
    }
}

Values* World::NewValues(const std::map<std::string, std::string>& strings) {
    auto made = std::make_unique<Values>();
    made->face = {reinterpret_cast<const void* const*>(&kRequestValuesTable), made.get()};
    made->world = this;
    made->refs = 1;
    for (const auto& entry : strings) {
        auto buffer = std::make_unique<Buffer>();
        buffer->face = {kBufferTable, buffer.get()};
        buffer->world = this;
        buffer->refs = 1;
        buffer->text = entry.second;
        made->strings[entry.first] = buffer.get();
        buffers.push_back(std::move(buffer));
    }
    values.push_back(std::move(made));
    return values.back().get();
}

Response* World::NewResponse() {
    auto made = std::make_unique<Response>();
    made->face = {kResponseTable, made.get()};
    made->world = this;
    made->refs = 1;
    responses.push_back(std::move(made));
    return responses.back().get();
}

int World::LiveWindows() const {
    int live = 0;
    for (const auto& site : sites) live += site->window && IsWindow(site->window) ? 1 : 0;
    return live;
}

int World::Count(const std::string& call) const {
    int count = 0;
    for (const auto& entry : calls) count += entry == call ? 1 : 0;
    return count;
}

void World::ExpectBalanced() const {
    EXPECT_EQ(player.refs, 1) << "player";
    EXPECT_EQ(siteManager.refs, 1) << "site manager";
    EXPECT_EQ(classFactory.refs, 1) << "class factory";
    for (const auto& site : sites) EXPECT_EQ(site->refs, 0) << "site " << site->id;
    for (const auto& entry : values) EXPECT_EQ(entry->refs, 1) << "request values";
    for (const auto& buffer : buffers) EXPECT_EQ(buffer->refs, 1) << "buffer " << buffer->text;
    for (const auto& response : responses) EXPECT_EQ(response->refs, 1) << "authentication response";
}

}  // namespace standin
