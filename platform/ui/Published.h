#pragma once
// Published properties: a table per control class that a layout loader drives. Each entry
// names a property, its type, how it is read and written, and whether streaming writes it.
//
// Storage rules (what WriteProperties emits):
//   psAlways   always written (no default value: Left, IgnoreMouse, Angle, Zoom, ...)
//   psDefault  written when the value differs from Default (Align alNone, Center False, ...)
//   psStored   written when the IsStored function says so (ShowHint while ParentShowHint is
//              false, Picture while it holds a graphic, ...)
//   psNever    never written (read-only properties such as Modified and CanModify, and
//              design-time information)
//   events     written when assigned; the text is the handler's name as the caller's
//              TMethodNameFunc gives it
// A property without a writer (read-only) is refused by SetPropValue / ReadProperty.
//
// Text forms: Booleans "False"/"True", enumerations by their names ("alClient", "AT90"),
// integers in decimal, strings as they are, binary data (a picture's layout form) as upper-case
// hexadecimal digits.
#include <any>
#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "platform/rtl/SysUtils.h"

class TControl;

class EPropertyError : public Exception {
 public:
  using Exception::Exception;
};

enum TTypeKind : std::uint8_t { tkInteger, tkEnumeration, tkString, tkBinary, tkMethod };
enum TPropStorage : std::uint8_t { psAlways, psDefault, psStored, psNever };

// Ordinal values (integers, enumerations, Booleans, "assigned" for events) as int64; strings
// and binary data as std::string.
using TPropValue = std::variant<std::int64_t, std::string>;

struct TPropInfo {
  std::string Name;
  TTypeKind Kind{tkInteger};
  std::string TypeName;                // "Boolean", "TAlign", "Word", "TNotifyEvent", ...
  std::vector<std::string> EnumNames;  // tkEnumeration: the names of the ordinals 0, 1, ...
  std::int64_t MinValue{INT32_MIN};    // tkInteger: accepted range
  std::int64_t MaxValue{INT32_MAX};
  TPropStorage Storage{psAlways};
  std::int64_t Default{0};                          // psDefault
  std::function<bool(TControl*)> IsStored;          // psStored
  std::function<TPropValue(TControl*)> Get;
  std::function<void(TControl*, const TPropValue&)> Set;  // null: read-only
  // tkMethod: Get gives 1 when assigned; SetMethod assigns a handler given as a std::any that
  // holds the event's exact std::function type (an empty std::any clears the event).
  std::function<void(TControl*, const std::any&)> SetMethod;

  bool ReadOnly() const { return Kind == tkMethod ? !SetMethod : !Set; }
};

// The published properties a class adds, with the table of its base class.
struct TPublishedClass {
  const char* ClassName;
  const TPublishedClass* Parent;
  std::vector<TPropInfo> Properties;
};

// All properties of the control's class, base classes' first, each class's in its order.
std::vector<const TPropInfo*> GetPropList(const TControl* Instance);
// Null when the class has no such property (names compare without regard to case).
const TPropInfo* GetPropInfo(const TControl* Instance, const std::string& Name);

// Typed access; EPropertyError for an unknown or read-only property or a value of the wrong
// type or range.
TPropValue GetPropValue(TControl* Instance, const std::string& Name);
void SetPropValue(TControl* Instance, const std::string& Name, const TPropValue& Value);

// Text access as the layouts have it (see the text forms above).
std::string GetPropText(TControl* Instance, const std::string& Name);
void SetPropText(TControl* Instance, const std::string& Name, const std::string& Text);

// Would streaming write this property of Instance now?
bool IsPropStored(TControl* Instance, const TPropInfo& Info);

struct TStreamedProperty {
  std::string Name;
  std::string Text;
};

// The handler name of an assigned event (the layout's binding), or "" when unknown.
using TMethodNameFunc = std::function<std::string(TControl* Instance, const std::string& EventName)>;
// The handler for a name, as a std::any holding the event's std::function type
// (Info.TypeName tells which), or an empty std::any when there is none.
using TMethodResolver = std::function<std::any(const TPropInfo& Info, const std::string& HandlerName)>;

// The stored properties of Instance, in property-list order, as text.
std::vector<TStreamedProperty> WriteProperties(TControl* Instance, const TMethodNameFunc& MethodName = {});
// Sets one property from its layout text; events through Resolver (EPropertyError when it
// gives nothing for the name).
void ReadProperty(TControl* Instance, const std::string& Name, const std::string& Text,
                  const TMethodResolver& Resolver = {});

// ---------------------------------------------------------------------------------------------
// Building the tables (each class's table casts the instance to its own class).

TPropInfo BooleanProperty(std::string Name, std::function<bool(TControl*)> Get,
                          std::function<void(TControl*, bool)> Set, TPropStorage Storage, bool Default = false);
TPropInfo IntegerProperty(std::string Name, std::string TypeName, std::int64_t MinValue, std::int64_t MaxValue,
                          std::function<std::int64_t(TControl*)> Get,
                          std::function<void(TControl*, std::int64_t)> Set, TPropStorage Storage,
                          std::int64_t Default = 0);
TPropInfo EnumProperty(std::string Name, std::string TypeName, std::vector<std::string> Names,
                       std::function<std::int64_t(TControl*)> Get, std::function<void(TControl*, std::int64_t)> Set,
                       TPropStorage Storage, std::int64_t Default = 0);
TPropInfo StringProperty(std::string Name, std::string TypeName, std::function<std::string(TControl*)> Get,
                         std::function<void(TControl*, const std::string&)> Set, TPropStorage Storage,
                         std::function<bool(TControl*)> IsStored = {});
TPropInfo BinaryProperty(std::string Name, std::string TypeName, std::function<std::string(TControl*)> Get,
                         std::function<void(TControl*, const std::string&)> Set,
                         std::function<bool(TControl*)> IsStored);

// Info, written only when IsStored says so.
inline TPropInfo StoredWhen(TPropInfo Info, std::function<bool(TControl*)> IsStored) {
  Info.Storage = psStored;
  Info.IsStored = std::move(IsStored);
  return Info;
}

// An event: Field gives the address of the instance's std::function member of type E.
template <class E>
TPropInfo EventProperty(std::string Name, std::string TypeName, std::function<E*(TControl*)> Field) {
  TPropInfo info;
  info.Name = std::move(Name);
  info.Kind = tkMethod;
  info.TypeName = std::move(TypeName);
  info.Storage = psStored;
  info.IsStored = [Field](TControl* C) { return static_cast<bool>(*Field(C)); };
  info.Get = [Field](TControl* C) -> TPropValue { return static_cast<std::int64_t>(static_cast<bool>(*Field(C))); };
  info.SetMethod = [Field, Event = info.Name](TControl* C, const std::any& Handler) {
    if (!Handler.has_value()) {
      *Field(C) = nullptr;
      return;
    }
    const E* handler = std::any_cast<E>(&Handler);
    if (!handler) throw EPropertyError("Invalid handler type for event " + Event);
    *Field(C) = *handler;
  };
  return info;
}
