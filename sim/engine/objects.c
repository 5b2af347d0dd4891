/* IRMABuffer and IRMAValues: real reference-counted engine objects. */
#include <stdlib.h>
#include <string.h>

#include "objects.h"

/* ---- IRMABuffer ----------------------------------------------------------------- */

void SimSingleInit(SimSingle* s, const void* vtbl, const GUID* iid, int kind, void (*destroy)(SimSingle*)) {
    s->vtbl = vtbl;
    s->refs = 1;
    s->iid = iid;
    s->destroy = destroy;
    s->kind = kind;
    SimObjectCreated(kind);
}

HRESULT SIMCALL SimSingleQueryInterface(void* self, const GUID* iid, void** out) {
    SimSingle* s = self;
    if (!out) return SIM_E_POINTER;
    if (SimSameId(iid, &kIidUnknown) || SimSameId(iid, s->iid)) {
        InterlockedIncrement(&s->refs);
        *out = self;
        return SIM_OK;
    }
    *out = NULL;
    return SIM_E_NOINTERFACE;
}

ULONG SIMCALL SimSingleAddRef(void* self) { return (ULONG)InterlockedIncrement(&((SimSingle*)self)->refs); }

ULONG SIMCALL SimSingleRelease(void* self) {
    SimSingle* s = self;
    LONG left = InterlockedDecrement(&s->refs);
    if (left > 0) return (ULONG)left;
    int kind = s->kind;
    s->destroy(s);
    SimObjectDestroyed(kind);
    return 0;
}

typedef struct SimBuffer {
    SimSingle head;
    UCHAR* data;
    ULONG32 size;
} SimBuffer;

static void BufferDestroy(SimSingle* self) {
    SimBuffer* b = (SimBuffer*)self;
    free(b->data);
    free(b);
}

static HRESULT SIMCALL BufferSetSize(void* self, ULONG32 length) {
    SimBuffer* b = self;
    UCHAR* data = realloc(b->data, length ? length : 1);
    if (!data) return SIM_E_FAIL;
    if (length > b->size) memset(data + b->size, 0, length - b->size);
    b->data = data;
    b->size = length;
    return SIM_OK;
}

static HRESULT SIMCALL BufferGet(void* self, UCHAR** data, ULONG32* length) {
    SimBuffer* b = self;
    if (data) *data = b->data;
    if (length) *length = b->size;
    return SIM_OK;
}

static HRESULT SIMCALL BufferSet(void* self, const UCHAR* data, ULONG32 length) {
    SimBuffer* b = self;
    HRESULT hr = BufferSetSize(self, length);
    if (hr == SIM_OK && data && length) memcpy(b->data, data, length);
    return hr;
}

static ULONG32 SIMCALL BufferGetSize(void* self) { return ((SimBuffer*)self)->size; }
static UCHAR* SIMCALL BufferGetBuffer(void* self) { return ((SimBuffer*)self)->data; }

static const BufferVtbl kBufferVtbl = {SimSingleQueryInterface, SimSingleAddRef, SimSingleRelease, BufferGet,
                                       BufferSet, BufferSetSize, BufferGetSize, BufferGetBuffer};

void* SimBufferNew(const void* data, ULONG32 length) {
    SimBuffer* b = calloc(1, sizeof *b);
    UCHAR* bytes = calloc(length ? length : 1, 1);
    if (!b || !bytes) {
        free(b);
        free(bytes);
        return NULL;
    }
    if (data) memcpy(bytes, data, length);
    SimSingleInit(&b->head, &kBufferVtbl, &kIidBuffer, OBJ_BUFFER, BufferDestroy);
    b->data = bytes;
    b->size = length;
    return b;
}

/* ---- properties ------------------------------------------------------------------ */

enum { PROP_ULONG32, PROP_BUFFER, PROP_CSTRING };
static const char* const kTypeNames[3] = {"ULONG32", "Buffer", "CString"};

struct SimProperty {
    SimProperty* next;
    int type;
    char* name;
    ULONG32 number;
    void* buffer; /* a SimBuffer of ours, one reference */
};

void SimPropertiesInit(SimPropertyList* list) {
    InitializeCriticalSection(&list->lock);
    list->first = NULL;
    memset(list->cursor, 0, sizeof list->cursor);
}

void SimPropertiesFree(SimPropertyList* list) {
    while (list->first) {
        SimProperty* p = list->first;
        list->first = p->next;
        if (p->buffer) SimSingleRelease(p->buffer);
        free(p->name);
        free(p);
    }
    DeleteCriticalSection(&list->lock);
}

static SimProperty* FindProperty(SimPropertyList* list, int type, const char* name) {
    for (SimProperty* p = list->first; p; p = p->next) {
        if (p->type == type && strcmp(p->name, name) == 0) return p;
    }
    return NULL;
}

/* Stores a property; a buffer value is copied into one of our own buffers, so
 * the engine never keeps a client's object in its property lists. */
static HRESULT SetProperty(SimPropertyList* list, int type, const char* name, ULONG32 number, void* value) {
    if (!name) return SIM_E_INVALIDARG;
    void* copy = NULL;
    if (type != PROP_ULONG32) {
        if (!value) return SIM_E_INVALIDARG;
        copy = SimBufferNew(SIM_VTBL(BufferVtbl, value)->GetBuffer(value), SIM_VTBL(BufferVtbl, value)->GetSize(value));
        if (!copy) return SIM_E_FAIL;
    }
    EnterCriticalSection(&list->lock);
    SimProperty* p = FindProperty(list, type, name);
    void* old = NULL;
    if (!p && (p = calloc(1, sizeof *p)) != NULL) {
        p->name = _strdup(name);
        if (!p->name) {
            free(p);
            p = NULL;
        } else {
            p->type = type;
            SimProperty** tail = &list->first;
            while (*tail) tail = &(*tail)->next;
            *tail = p;
        }
    }
    if (p) {
        old = p->buffer;
        p->buffer = copy;
        p->number = number;
        copy = NULL;
    }
    LeaveCriticalSection(&list->lock);
    if (old) SimSingleRelease(old);
    if (copy) SimSingleRelease(copy);
    return p ? SIM_OK : SIM_E_FAIL;
}

static HRESULT GetProperty(SimPropertyList* list, int type, const char* name, ULONG32* number, void** value) {
    if (value) *value = NULL;
    if (!name || (type == PROP_ULONG32 ? !number : !value)) return SIM_E_INVALIDARG;
    EnterCriticalSection(&list->lock);
    SimProperty* p = FindProperty(list, type, name);
    if (p) {
        if (type == PROP_ULONG32) {
            *number = p->number;
        } else {
            SimSingleAddRef(p->buffer);
            *value = p->buffer;
        }
    }
    LeaveCriticalSection(&list->lock);
    return p ? SIM_OK : SIM_E_FAIL;
}

/* GetFirst (from null) and GetNext (from the cursor) for one type. */
static HRESULT StepProperty(SimPropertyList* list, int type, int first, const char** name, ULONG32* number,
                            void** value) {
    if (value) *value = NULL;
    if (!name) return SIM_E_INVALIDARG;
    EnterCriticalSection(&list->lock);
    SimProperty* p = first ? list->first : (list->cursor[type] ? list->cursor[type]->next : NULL);
    while (p && p->type != type) p = p->next;
    list->cursor[type] = p;
    if (p) {
        *name = p->name;
        if (type == PROP_ULONG32) {
            if (number) *number = p->number;
        } else if (value) {
            SimSingleAddRef(p->buffer);
            *value = p->buffer;
        }
    }
    LeaveCriticalSection(&list->lock);
    return p ? SIM_OK : SIM_E_FAIL;
}

/* ---- IRMAValues ------------------------------------------------------------------- */

typedef struct SimValues {
    SimValuesFace face;
    volatile LONG refs;
} SimValues;

static HRESULT SIMCALL ValuesQueryInterface(void* self, const GUID* iid, void** out) {
    SimValuesFace* f = self;
    if (f->owner) return f->owner->vtbl->QueryInterface(f->owner, iid, out);
    if (!out) return SIM_E_POINTER;
    if (SimSameId(iid, &kIidUnknown) || SimSameId(iid, &kIidValues)) {
        InterlockedIncrement(&SIM_OBJ(SimValues, face, f)->refs);
        *out = self;
        return SIM_OK;
    }
    *out = NULL;
    return SIM_E_NOINTERFACE;
}

static ULONG SIMCALL ValuesAddRef(void* self) {
    SimValuesFace* f = self;
    if (f->owner) return f->owner->vtbl->AddRef(f->owner);
    return (ULONG)InterlockedIncrement(&SIM_OBJ(SimValues, face, f)->refs);
}

static ULONG SIMCALL ValuesRelease(void* self) {
    SimValuesFace* f = self;
    if (f->owner) return f->owner->vtbl->Release(f->owner);
    SimValues* v = SIM_OBJ(SimValues, face, f);
    LONG left = InterlockedDecrement(&v->refs);
    if (left > 0) return (ULONG)left;
    SimPropertiesFree(&f->props);
    free(v);
    SimObjectDestroyed(OBJ_VALUES);
    return 0;
}

static const char* TextOf(void* buffer, char* out, size_t size) {
    out[0] = 0;
    if (!buffer) return out;
    const UCHAR* data = SIM_VTBL(BufferVtbl, buffer)->GetBuffer(buffer);
    ULONG32 n = SIM_VTBL(BufferVtbl, buffer)->GetSize(buffer);
    if (n >= size) n = (ULONG32)size - 1;
    if (data) memcpy(out, data, n);
    out[n] = 0;
    return out;
}

static HRESULT Set(void* self, int type, const char* name, ULONG32 number, void* value) {
    char text[128];
    if (type == PROP_ULONG32) {
        SimLog("Values.SetPropertyULONG32 %s=%lu", name ? name : "(null)", (unsigned long)number);
    } else {
        SimLog("Values.SetProperty%s %s=%s", kTypeNames[type], name ? name : "(null)", TextOf(value, text, sizeof text));
    }
    return SetProperty(&((SimValuesFace*)self)->props, type, name, number, value);
}

static HRESULT Get(void* self, int type, const char* name, ULONG32* number, void** value) {
    HRESULT hr = GetProperty(&((SimValuesFace*)self)->props, type, name, number, value);
    SimLog("Values.GetProperty%s %s%s", kTypeNames[type], name ? name : "(null)", hr == SIM_OK ? "" : " (none)");
    return hr;
}

static HRESULT Step(void* self, int type, int first, const char** name, ULONG32* number, void** value) {
    SimLog("Values.Get%sProperty%s", first ? "First" : "Next", kTypeNames[type]);
    return StepProperty(&((SimValuesFace*)self)->props, type, first, name, number, value);
}

static HRESULT SIMCALL SetULONG32(void* s, const char* n, ULONG32 v) { return Set(s, PROP_ULONG32, n, v, NULL); }
static HRESULT SIMCALL GetULONG32(void* s, const char* n, ULONG32* v) { return Get(s, PROP_ULONG32, n, v, NULL); }
static HRESULT SIMCALL FirstULONG32(void* s, const char** n, ULONG32* v) { return Step(s, PROP_ULONG32, 1, n, v, NULL); }
static HRESULT SIMCALL NextULONG32(void* s, const char** n, ULONG32* v) { return Step(s, PROP_ULONG32, 0, n, v, NULL); }
static HRESULT SIMCALL SetBuffer(void* s, const char* n, void* v) { return Set(s, PROP_BUFFER, n, 0, v); }
static HRESULT SIMCALL GetBuffer(void* s, const char* n, void** v) { return Get(s, PROP_BUFFER, n, NULL, v); }
static HRESULT SIMCALL FirstBuffer(void* s, const char** n, void** v) { return Step(s, PROP_BUFFER, 1, n, NULL, v); }
static HRESULT SIMCALL NextBuffer(void* s, const char** n, void** v) { return Step(s, PROP_BUFFER, 0, n, NULL, v); }
static HRESULT SIMCALL SetCString(void* s, const char* n, void* v) { return Set(s, PROP_CSTRING, n, 0, v); }
static HRESULT SIMCALL GetCString(void* s, const char* n, void** v) { return Get(s, PROP_CSTRING, n, NULL, v); }
static HRESULT SIMCALL FirstCString(void* s, const char** n, void** v) { return Step(s, PROP_CSTRING, 1, n, NULL, v); }
static HRESULT SIMCALL NextCString(void* s, const char** n, void** v) { return Step(s, PROP_CSTRING, 0, n, NULL, v); }

const ValuesVtbl kValuesVtbl = {ValuesQueryInterface, ValuesAddRef, ValuesRelease, SetULONG32,   GetULONG32,
                                FirstULONG32,         NextULONG32,  SetBuffer,     GetBuffer,    FirstBuffer,
                                NextBuffer,           SetCString,   GetCString,    FirstCString, NextCString};

void SimValuesFaceInit(SimValuesFace* face, Unknown* owner) {
    face->vtbl = &kValuesVtbl;
    face->owner = owner;
    SimPropertiesInit(&face->props);
}

void* SimValuesNew(void) {
    SimValues* v = calloc(1, sizeof *v);
    if (!v) return NULL;
    SimValuesFaceInit(&v->face, NULL);
    v->refs = 1;
    SimObjectCreated(OBJ_VALUES);
    return &v->face;
}

void SimValuesSetText(void* values, const char* name, const char* text) {
    void* buffer = SimBufferNew(text, (ULONG32)strlen(text) + 1);
    if (!buffer) return;
    SetProperty(&((SimValuesFace*)values)->props, PROP_CSTRING, name, 0, buffer);
    SimSingleRelease(buffer);
}
