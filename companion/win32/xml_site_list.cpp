#include "companion/win32/xml_site_list.h"

#include <windows.h>
#include <objbase.h>
#include <xmllite.h>

#include <cstring>

#include "companion/site_list.h"
#include "platform/win32/system_library.h"
#include "platform/win32/win32_platform.h"

namespace qtk::companion::win32 {

using qtk::win32::ErrorText;
using qtk::win32::HresultText;
using qtk::win32::SystemLibrary;
namespace {

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() {
        if (p_ != nullptr) p_->Release();
    }
    T** Out() { return &p_; }
    T* operator->() const { return p_; }
    T* get() const { return p_; }

private:
    T* p_ = nullptr;
};

// The bytes as a stream on memory of its own; ole32 is a KnownDLL.
HRESULT MemoryStream(const std::string& bytes, IStream** stream) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.empty() ? 1 : bytes.size());
    if (memory == nullptr) return E_OUTOFMEMORY;
    if (void* data = GlobalLock(memory)) {
        if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
        GlobalUnlock(memory);
    }
    const HRESULT result = CreateStreamOnHGlobal(memory, TRUE, stream);
    if (FAILED(result)) {
        GlobalFree(memory);
        return result;
    }
    ULARGE_INTEGER size{};
    size.QuadPart = bytes.size();
    (*stream)->SetSize(size);
    return S_OK;
}

std::wstring Where(IXmlReader* reader) {
    UINT line = 0;
    UINT column = 0;
    reader->GetLineNumber(&line);
    reader->GetLinePosition(&column);
    return L" at line " + std::to_wstring(line) + L", column " + std::to_wstring(column);
}

}  // namespace

ParsedList XmlLiteSiteListParser::Parse(const std::string& bytes) {
    using CreateXmlReaderFn = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);
    const SystemLibrary xmllite(L"xmllite.dll");
    const auto create = xmllite.Find<CreateXmlReaderFn>("CreateXmlReader");
    if (create == nullptr) {
        return {std::nullopt, L"the system's XML reader (xmllite.dll) is not available: " +
                                  ErrorText(xmllite.LoadError())};
    }
    ComPtr<IXmlReader> reader;
    HRESULT result = create(__uuidof(IXmlReader), reinterpret_cast<void**>(reader.Out()), nullptr);
    if (FAILED(result)) return {std::nullopt, L"the XML reader cannot start: " + HresultText(result)};
    reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit);
    ComPtr<IStream> stream;
    result = MemoryStream(bytes, stream.Out());
    if (FAILED(result)) return {std::nullopt, L"no memory for the list: " + HresultText(result)};
    result = reader->SetInput(stream.get());
    if (FAILED(result)) return {std::nullopt, L"the XML reader refuses the list: " + HresultText(result)};

    SiteListBuilder builder;
    XmlNodeType type = XmlNodeType_None;
    // Every node the reader reports takes at least one byte of the input, so a reader that
    // reports more nodes than that is going round in circles (Wine's reports empty
    // whitespace without end at the end of a document whose root is not closed).
    const std::size_t most_nodes = bytes.size() + 16;
    std::size_t nodes = 0;
    while ((result = reader->Read(&type)) == S_OK) {
        const wchar_t* text = nullptr;
        UINT length = 0;
        if (++nodes > most_nodes) {
            return {std::nullopt, L"it is not well-formed XML: the XML reader makes no progress" +
                                      Where(reader.get()) +
                                      L", as at the end of a document whose root is not closed"};
        }
        switch (type) {
            case XmlNodeType_Element: {
                reader->GetLocalName(&text, &length);
                const std::wstring name(text, length);
                const bool empty = reader->IsEmptyElement();
                XmlAttributes attributes;
                for (HRESULT more = reader->MoveToFirstAttribute(); more == S_OK;
                     more = reader->MoveToNextAttribute()) {
                    const wchar_t* value = nullptr;
                    UINT value_length = 0;
                    reader->GetLocalName(&text, &length);
                    reader->GetValue(&value, &value_length);
                    attributes.emplace_back(std::wstring(text, length),
                                            std::wstring(value, value_length));
                }
                reader->MoveToElement();
                builder.StartElement(name, attributes);
                // An empty element has no end of its own in the reader's events.
                if (empty) builder.EndElement();
                break;
            }
            case XmlNodeType_EndElement: builder.EndElement(); break;
            case XmlNodeType_Text:
            case XmlNodeType_CDATA:
            case XmlNodeType_Whitespace:
                reader->GetValue(&text, &length);
                if (length == 0) {
                    // No reader reports empty text from real input; Wine's does so, over
                    // and over, once an unclosed document has run out.
                    return {std::nullopt,
                            L"it is not well-formed XML: the document ends before its root "
                            L"element is closed" + Where(reader.get())};
                }
                builder.Text(std::wstring_view(text, length));
                break;
            default: break;
        }
    }
    if (FAILED(result)) {
        return {std::nullopt, L"it is not well-formed XML (XmlLite " + HresultText(result) + L")" +
                                  Where(reader.get())};
    }
    std::wstring problem;
    std::optional<SiteList> list = builder.Finish(&problem);
    if (!list) return {std::nullopt, problem};
    return {std::move(list), {}};
}

}  // namespace qtk::companion::win32
