// The display on the GPU: one Direct3D 11 device for the process, one flip-model swap chain per
// window, each image uploaded once as a texture with its whole mip chain, and a frame of one
// textured quad per copy, premultiplied source over, on black.
//
// d3d11.dll and d3dcompiler_47.dll are loaded at run time, never imported (DXGI comes through the
// device), so that a PC where one of them is missing or broken still starts and draws on the
// processor. Every failure here is silent: the window draws on the processor instead.
//
// The images shrink by trilinear sampling of mip levels that average 2 x 2 premultiplied pixels,
// which keeps fine strokes from shimmering as the processor's area sampling does. A copy is only
// scaled evenly and turned, so its footprint is round and anisotropic filtering would add nothing
// (and keep a software rasteriser from holding 30 frames a second at 1080p).

#include "screensaver.h"

#include "motion.h"

#include <d3d11.h>
#include <d3dcompiler.h>
#include <dxgi1_3.h>
#include <wrl/client.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

using Microsoft::WRL::ComPtr;

DrawPath drawPath = DrawPath::gpu;
decltype(loadSystemLibrary) loadSystemLibrary = [](const char* name) {
    return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
};
decltype(presentReported) presentReported = [](HRESULT result) { return result; };
decltype(frameLatencyObject) frameLatencyObject = [](HANDLE given) { return given; };

struct GpuTexture {
    unsigned device = 0; // the device generation it lives on
    ComPtr<ID3D11ShaderResourceView> view;
    float right = 1;  // the image's share of the padded texture's width
    float bottom = 1; // and of its height
};

struct GpuWindow {
    unsigned device = 0;
    ComPtr<IDXGISwapChain1> chain;
    ComPtr<ID3D11RenderTargetView> target;
    int width = 0;
    int height = 0;
    HANDLE waitable = nullptr;
    ComPtr<ID3D11Query> finished; // signalled when the GPU has drawn the last frame presented
    int framesSkipped = 0;
    ~GpuWindow();
};

namespace {

constexpr std::size_t mostQuads = 3 * wishwell::pageCapacity + 1; // every copy, and the banner
constexpr UINT chainFlags = DXGI_SWAP_CHAIN_FLAG_FRAME_LATENCY_WAITABLE_OBJECT;
constexpr UINT uploadBand = 64 * 1024; // bytes

struct Vertex {
    float x, y; // clip space
    float u, v;
    float opacity;
};

// No sin or cos (Wine's compiler lacks them: the corners are turned on the processor) and outputs
// through out parameters (it draws nothing for a shader that returns a struct).
const char shaderSource[] = R"(
Texture2D image : register(t0);
SamplerState smooth : register(s0);
void vertexMain(float2 position : POSITION, float2 uv : TEXCOORD0, float opacity : TEXCOORD1,
                out float4 clip : SV_Position, out float2 uvOut : TEXCOORD0,
                out float opacityOut : TEXCOORD1) {
    clip = float4(position, 0, 1);
    uvOut = uv;
    opacityOut = opacity;
}
void pixelMain(float4 clip : SV_Position, float2 uv : TEXCOORD0, float opacity : TEXCOORD1,
               out float4 colour : SV_Target) {
    colour = image.Sample(smooth, uv) * opacity;
}
)";

// The process's one device and what every frame draws with; made when the first window needs it
// and released with the last.
struct Device {
    ComPtr<ID3D11Device> device;
    ComPtr<ID3D11DeviceContext> context;
    ComPtr<IDXGIFactory2> factory;
    ComPtr<ID3D11VertexShader> vertexShader;
    ComPtr<ID3D11PixelShader> pixelShader;
    ComPtr<ID3D11InputLayout> layout;
    ComPtr<ID3D11Buffer> vertices;
    ComPtr<ID3D11SamplerState> sampler;
    ComPtr<ID3D11BlendState> blend;
    ComPtr<ID3D11RasterizerState> rasterizer;
};

std::unique_ptr<Device> shared;
unsigned generation = 0; // counts the devices made: what was made on an earlier one is remade
int windowsOnGpu = 0;
// A lost device is made again once while windows draw on the GPU; lost again, or not made again,
// every window draws on the processor until the last of them is gone.
bool remade = false;
bool givenUp = false;
// Every upload's mip chain, in the memory of the one before: fresh pages would cost a fault for
// every 4 KB, on Windows too. Released with the device.
wishwell::MipChain uploadChain;

// The libraries stay loaded once loaded: a driver's threads may outlive the device.
template <typename Function> Function entryPoint(const char* library, const char* name) {
    HMODULE module = loadSystemLibrary(library);
    return module
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
               : nullptr;
}

ComPtr<ID3DBlob> compiled(pD3DCompile compile, const char* entry, const char* target) {
    ComPtr<ID3DBlob> code, errors;
    if (FAILED(compile(shaderSource, sizeof shaderSource - 1, "display", nullptr, nullptr, entry,
                       target, D3DCOMPILE_OPTIMIZATION_LEVEL3, 0, &code, &errors)))
        return nullptr;
    return code;
}

// A hardware adapter's device with BGRA support; not a software one (WARP, or the basic render
// driver of a PC without a display driver), whose rasteriser runs on the processor with threads
// of its own and would cost more than the processor path.
bool onHardware(ID3D11Device* made) {
    ComPtr<IDXGIDevice> dxgi;
    ComPtr<IDXGIAdapter> adapter;
    ComPtr<IDXGIAdapter1> adapter1;
    if (FAILED(made->QueryInterface(IID_PPV_ARGS(&dxgi))) || FAILED(dxgi->GetAdapter(&adapter)) ||
        FAILED(adapter.As(&adapter1)))
        return false;
    DXGI_ADAPTER_DESC1 description{};
    if (FAILED(adapter1->GetDesc1(&description))) return false;
    constexpr UINT microsoft = 0x1414, basicRender = 0x8C;
    return !(description.Flags & DXGI_ADAPTER_FLAG_SOFTWARE) &&
           !(description.VendorId == microsoft && description.DeviceId == basicRender);
}

std::unique_ptr<Device> makeDevice() {
    const auto create = entryPoint<PFN_D3D11_CREATE_DEVICE>("d3d11.dll", "D3D11CreateDevice");
    const auto compile = entryPoint<pD3DCompile>("d3dcompiler_47.dll", "D3DCompile");
    if (!create || !compile) return nullptr;
    auto made = std::make_unique<Device>();
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1,
                                        D3D_FEATURE_LEVEL_10_0};
    if (FAILED(create(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT,
                      levels, static_cast<UINT>(std::size(levels)), D3D11_SDK_VERSION,
                      &made->device, nullptr, &made->context)) ||
        !onHardware(made->device.Get()))
        return nullptr;

    ComPtr<IDXGIDevice> dxgi;
    ComPtr<IDXGIAdapter> adapter;
    if (FAILED(made->device.As(&dxgi)) || FAILED(dxgi->GetAdapter(&adapter)) ||
        FAILED(adapter->GetParent(IID_PPV_ARGS(&made->factory))))
        return nullptr;
    // No SetMaximumFrameLatency(1) for the device: Wine's Present would then spin until its
    // command thread has carried the frame out. Without a waitable object, gpuBehind keeps the
    // frames from queueing up instead.

    const ComPtr<ID3DBlob> vertexCode = compiled(compile, "vertexMain", "vs_4_0");
    const ComPtr<ID3DBlob> pixelCode = compiled(compile, "pixelMain", "ps_4_0");
    if (!vertexCode || !pixelCode) return nullptr;
    ID3D11Device* d = made->device.Get();
    const D3D11_INPUT_ELEMENT_DESC elements[] = {
        {"POSITION", 0, DXGI_FORMAT_R32G32_FLOAT, 0, offsetof(Vertex, x),
         D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"TEXCOORD", 0, DXGI_FORMAT_R32G32_FLOAT, 0, offsetof(Vertex, u),
         D3D11_INPUT_PER_VERTEX_DATA, 0},
        {"TEXCOORD", 1, DXGI_FORMAT_R32_FLOAT, 0, offsetof(Vertex, opacity),
         D3D11_INPUT_PER_VERTEX_DATA, 0}};
    D3D11_BUFFER_DESC buffer{};
    buffer.ByteWidth = static_cast<UINT>(sizeof(Vertex) * 4 * mostQuads);
    buffer.Usage = D3D11_USAGE_DYNAMIC;
    buffer.BindFlags = D3D11_BIND_VERTEX_BUFFER;
    buffer.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
    D3D11_SAMPLER_DESC sampler{};
    sampler.Filter = D3D11_FILTER_MIN_MAG_MIP_LINEAR;
    // Beyond the image is transparent, as it is to the processor's compositor.
    sampler.AddressU = sampler.AddressV = sampler.AddressW = D3D11_TEXTURE_ADDRESS_BORDER;
    sampler.ComparisonFunc = D3D11_COMPARISON_NEVER;
    sampler.MaxLOD = D3D11_FLOAT32_MAX;
    D3D11_BLEND_DESC blend{};
    D3D11_RENDER_TARGET_BLEND_DESC& over = blend.RenderTarget[0];
    over.BlendEnable = TRUE;
    over.SrcBlend = over.SrcBlendAlpha = D3D11_BLEND_ONE;
    over.DestBlend = over.DestBlendAlpha = D3D11_BLEND_INV_SRC_ALPHA;
    over.BlendOp = over.BlendOpAlpha = D3D11_BLEND_OP_ADD;
    over.RenderTargetWriteMask = D3D11_COLOR_WRITE_ENABLE_ALL;
    // A turned quad's corners may come in either order.
    D3D11_RASTERIZER_DESC rasterizer{};
    rasterizer.FillMode = D3D11_FILL_SOLID;
    rasterizer.CullMode = D3D11_CULL_NONE;
    rasterizer.DepthClipEnable = TRUE;
    if (FAILED(d->CreateVertexShader(vertexCode->GetBufferPointer(), vertexCode->GetBufferSize(),
                                     nullptr, &made->vertexShader)) ||
        FAILED(d->CreatePixelShader(pixelCode->GetBufferPointer(), pixelCode->GetBufferSize(),
                                    nullptr, &made->pixelShader)) ||
        FAILED(d->CreateInputLayout(elements, static_cast<UINT>(std::size(elements)),
                                    vertexCode->GetBufferPointer(), vertexCode->GetBufferSize(),
                                    &made->layout)) ||
        FAILED(d->CreateBuffer(&buffer, nullptr, &made->vertices)) ||
        FAILED(d->CreateSamplerState(&sampler, &made->sampler)) ||
        FAILED(d->CreateBlendState(&blend, &made->blend)) ||
        FAILED(d->CreateRasterizerState(&rasterizer, &made->rasterizer)))
        return nullptr;
    return made;
}

bool drawsAPixel();

bool ensureDevice() {
    if (shared) return true;
    if (givenUp) return false;
    shared = makeDevice();
    if (!shared) return false;
    ++generation;
    if (!drawsAPixel()) shared.reset();
    return shared != nullptr;
}

GpuTextureOwner upload(const wishwell::PreparedImage& image) {
    // A side of up to the limit, a power of two, is padded to no more than itself.
    if (image.width > D3D11_REQ_TEXTURE2D_U_OR_V_DIMENSION ||
        image.height > D3D11_REQ_TEXTURE2D_U_OR_V_DIMENSION)
        return nullptr;
    wishwell::fillMipChain(image, uploadChain);
    const int width = uploadChain.width, height = uploadChain.height;
    const auto& levels = uploadChain.levels;
    if (levels.empty()) return nullptr;
    D3D11_TEXTURE2D_DESC description{};
    description.Width = static_cast<UINT>(width);
    description.Height = static_cast<UINT>(height);
    description.MipLevels = static_cast<UINT>(levels.size());
    description.ArraySize = 1;
    description.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    description.SampleDesc.Count = 1;
    description.Usage = D3D11_USAGE_DEFAULT;
    description.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    ComPtr<ID3D11Texture2D> texture;
    GpuTextureOwner made(new GpuTexture);
    if (FAILED(shared->device->CreateTexture2D(&description, nullptr, &texture)) ||
        FAILED(shared->device->CreateShaderResourceView(texture.Get(), nullptr, &made->view)))
        return nullptr;
    // In bands of at most 64 KB: Wine's Direct3D copies what it is given, and a copy of a whole
    // level would take fresh pages from the heap at every upload, where small ones reuse its own.
    for (std::size_t i = 0; i < levels.size(); ++i) {
        const UINT w = static_cast<UINT>(std::max(width >> i, 1));
        const UINT h = static_cast<UINT>(std::max(height >> i, 1));
        const UINT band = std::max<UINT>(1, uploadBand / (w * 4));
        for (UINT top = 0; top < h; top += band) {
            const D3D11_BOX box = {0, top, 0, w, std::min(top + band, h), 1};
            shared->context->UpdateSubresource(texture.Get(), static_cast<UINT>(i), &box,
                                               levels[i].data() + static_cast<std::size_t>(top) * w,
                                               w * 4, 0);
        }
    }
    made->device = generation;
    made->right = static_cast<float>(image.width) / width;
    made->bottom = static_cast<float>(image.height) / height;
    return made;
}

// The four corners of a copy as a strip, turned on the processor.
void writeQuad(Vertex* corners, const FrameCopy& copy, const GpuTexture& texture, int width,
               int height) {
    const wishwell::Placement& at = copy.at;
    const double turn = std::remainder(at.rotation, 360.0) * std::numbers::pi / 180;
    const double c = std::cos(turn), s = std::sin(turn);
    const double hw = at.width * at.scale / 2, hh = at.height * at.scale / 2;
    const float opacity = static_cast<float>(std::clamp(copy.opacity, 0.0, 1.0));
    const struct {
        double dx, dy;
        float u, v;
    } corner[4] = {{-hw, -hh, 0, 0},
                   {hw, -hh, texture.right, 0},
                   {-hw, hh, 0, texture.bottom},
                   {hw, hh, texture.right, texture.bottom}};
    for (int i = 0; i < 4; ++i) {
        // Clockwise on a screen whose y runs down.
        const double x = at.x + corner[i].dx * c - corner[i].dy * s;
        const double y = at.y + corner[i].dx * s + corner[i].dy * c;
        corners[i] = {static_cast<float>(2 * x / width - 1), static_cast<float>(1 - 2 * y / height),
                      corner[i].u, corner[i].v, opacity};
    }
}

// (Re)makes the window's swap chain on the current device at the client area's size.
bool readyChain(HWND window, GpuWindow& gpu) {
    RECT area{};
    GetClientRect(window, &area);
    const int width = std::max<int>(area.right, 1), height = std::max<int>(area.bottom, 1);
    if (gpu.chain && gpu.device == generation && gpu.width == width && gpu.height == height)
        return true;
    gpu.target.Reset();
    if (gpu.chain && gpu.device == generation) {
        shared->context->ClearState();
        if (FAILED(gpu.chain->ResizeBuffers(0, static_cast<UINT>(width), static_cast<UINT>(height),
                                            DXGI_FORMAT_UNKNOWN, chainFlags)))
            return false;
    } else {
        gpu.chain.Reset();
        if (gpu.waitable) CloseHandle(gpu.waitable);
        gpu.waitable = nullptr;
        DXGI_SWAP_CHAIN_DESC1 description{};
        description.Width = static_cast<UINT>(width);
        description.Height = static_cast<UINT>(height);
        description.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        description.SampleDesc.Count = 1;
        description.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
        description.BufferCount = 2;
        description.Scaling = DXGI_SCALING_STRETCH;
        description.SwapEffect = DXGI_SWAP_EFFECT_FLIP_DISCARD;
        description.AlphaMode = DXGI_ALPHA_MODE_IGNORE;
        description.Flags = chainFlags;
        if (FAILED(shared->factory->CreateSwapChainForHwnd(
                shared->device.Get(), window, &description, nullptr, nullptr, &gpu.chain)))
            return false;
        shared->factory->MakeWindowAssociation(window, DXGI_MWA_NO_ALT_ENTER);
        // Windows 8.1 and later; Wine offers no IDXGISwapChain2, and the frame clock paces there.
        HANDLE given = nullptr;
        if (ComPtr<IDXGISwapChain2> chain2; SUCCEEDED(gpu.chain.As(&chain2))) {
            chain2->SetMaximumFrameLatency(1);
            given = chain2->GetFrameLatencyWaitableObject();
        }
        gpu.waitable = frameLatencyObject(given);
        gpu.device = generation;
        D3D11_QUERY_DESC query = {D3D11_QUERY_EVENT, 0};
        gpu.finished.Reset();
        shared->device->CreateQuery(&query, &gpu.finished);
    }
    ComPtr<ID3D11Texture2D> buffer;
    if (FAILED(gpu.chain->GetBuffer(0, IID_PPV_ARGS(&buffer))) ||
        FAILED(shared->device->CreateRenderTargetView(buffer.Get(), nullptr, &gpu.target)))
        return false;
    gpu.width = width;
    gpu.height = height;
    return true;
}

bool drawable(const FrameCopy& copy) {
    return copy.image && copy.image->width > 0 && copy.image->height > 0 && copy.texture;
}

// Clears the target to black and draws the copies over it, uploading the images not yet on the
// device.
bool drawQuads(ID3D11RenderTargetView* target, int width, int height,
               const std::vector<FrameCopy>& copies) {
    std::size_t quads = 0;
    for (const FrameCopy& copy : copies) {
        if (quads == mostQuads) break;
        if (!drawable(copy)) continue;
        GpuTextureOwner& texture = *copy.texture;
        if (!texture || texture->device != generation) texture = upload(*copy.image);
        if (!texture) return false;
        ++quads;
    }
    ID3D11DeviceContext* context = shared->context.Get();
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (FAILED(context->Map(shared->vertices.Get(), 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped)))
        return false;
    auto* corners = static_cast<Vertex*>(mapped.pData);
    std::size_t written = 0;
    for (auto copy = copies.begin(); written < quads; ++copy)
        if (drawable(*copy))
            writeQuad(corners + 4 * written++, *copy, **copy->texture, width, height);
    context->Unmap(shared->vertices.Get(), 0);

    const float black[4] = {0, 0, 0, 1};
    context->OMSetRenderTargets(1, &target, nullptr);
    context->ClearRenderTargetView(target, black);
    const D3D11_VIEWPORT viewport = {0, 0, static_cast<float>(width), static_cast<float>(height),
                                     0, 1};
    context->RSSetViewports(1, &viewport);
    context->RSSetState(shared->rasterizer.Get());
    context->OMSetBlendState(shared->blend.Get(), nullptr, 0xFFFFFFFF);
    const UINT stride = sizeof(Vertex), offset = 0;
    ID3D11Buffer* vertices = shared->vertices.Get();
    context->IASetVertexBuffers(0, 1, &vertices, &stride, &offset);
    context->IASetInputLayout(shared->layout.Get());
    context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLESTRIP);
    context->VSSetShader(shared->vertexShader.Get(), nullptr, 0);
    context->PSSetShader(shared->pixelShader.Get(), nullptr, 0);
    ID3D11SamplerState* sampler = shared->sampler.Get();
    context->PSSetSamplers(0, 1, &sampler);
    std::size_t drawn = 0;
    for (auto copy = copies.begin(); drawn < quads; ++copy) {
        if (!drawable(*copy)) continue;
        ID3D11ShaderResourceView* texture = (*copy->texture)->view.Get();
        context->PSSetShaderResources(0, 1, &texture);
        context->Draw(4, static_cast<UINT>(4 * drawn++));
    }
    return true;
}

// The texture's pixels through a staging copy, waiting for the GPU to finish them.
std::vector<std::uint32_t> readBack(ID3D11Texture2D* texture) {
    D3D11_TEXTURE2D_DESC description{};
    texture->GetDesc(&description);
    description.Usage = D3D11_USAGE_STAGING;
    description.BindFlags = 0;
    description.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    description.MiscFlags = 0;
    ComPtr<ID3D11Texture2D> staging;
    if (FAILED(shared->device->CreateTexture2D(&description, nullptr, &staging))) return {};
    shared->context->CopyResource(staging.Get(), texture);
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (FAILED(shared->context->Map(staging.Get(), 0, D3D11_MAP_READ, 0, &mapped))) return {};
    const std::size_t width = description.Width;
    std::vector<std::uint32_t> pixels(width * description.Height);
    for (UINT y = 0; y < description.Height; ++y)
        std::memcpy(pixels.data() + y * width,
                    static_cast<const std::uint8_t*>(mapped.pData) + y * mapped.RowPitch,
                    width * 4);
    shared->context->Unmap(staging.Get(), 0);
    return pixels;
}

// One opaque pixel drawn and read back. Under Wine the shaders are translated and compiled for
// the rasteriser when they first draw, a second or more on a software one; this happens here,
// before any window shows, and not in a window's first frame. It also catches a compiler or
// driver that draws nothing.
bool drawsAPixel() {
    const wishwell::Pixel orange = 0xFFFF8000u;
    wishwell::PreparedImage dot = wishwell::prepareImage(&orange, 1, 1, 1);
    GpuTextureOwner texture;
    const std::vector<FrameCopy> copies = {{&dot, &texture, {0.5, 0.5, 1, 0, 1, 1}, 1}};
    D3D11_TEXTURE2D_DESC description{};
    description.Width = description.Height = 1;
    description.MipLevels = description.ArraySize = 1;
    description.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    description.SampleDesc.Count = 1;
    description.Usage = D3D11_USAGE_DEFAULT;
    description.BindFlags = D3D11_BIND_RENDER_TARGET;
    ComPtr<ID3D11Texture2D> pixel;
    ComPtr<ID3D11RenderTargetView> target;
    if (FAILED(shared->device->CreateTexture2D(&description, nullptr, &pixel)) ||
        FAILED(shared->device->CreateRenderTargetView(pixel.Get(), nullptr, &target)) ||
        !drawQuads(target.Get(), 1, 1, copies))
        return false;
    const std::vector<std::uint32_t> drawn = readBack(pixel.Get());
    return drawn.size() == 1 && drawn[0] == orange;
}

// Draws the view's copies into the window's back buffer.
bool drawCopies(HWND window, ViewState& view) {
    if (!ensureDevice() || !readyChain(window, *view.gpu)) return false;
    return drawQuads(view.gpu->target.Get(), view.gpu->width, view.gpu->height, view.copies);
}

// A lost device is released with everything made on it; true when another could be made.
bool deviceLost() {
    shared.reset();
    if (remade) {
        givenUp = true;
        return false;
    }
    remade = true;
    if (!ensureDevice()) givenUp = true;
    return !givenUp;
}

} // namespace

GpuWindow::~GpuWindow() {
    // The swap chain goes before the window it belongs to, the object with it.
    target.Reset();
    chain.Reset();
    if (waitable) CloseHandle(waitable);
    if (--windowsOnGpu == 0) {
        shared.reset();
        uploadChain = {};
        remade = false;
        givenUp = false;
    }
}

void GpuRelease::operator()(GpuTexture* texture) const {
    delete texture;
}

void GpuRelease::operator()(GpuWindow* window) const {
    delete window;
}

GpuWindowOwner openGpuWindow(HWND window) {
    if (drawPath != DrawPath::gpu) return nullptr;
    try {
        GpuWindowOwner gpu(new GpuWindow);
        ++windowsOnGpu;
        if (!ensureDevice() || !readyChain(window, *gpu)) return nullptr;
        return gpu;
    } catch (...) {
        return nullptr;
    }
}

bool showOnGpu(HWND window, ViewState& view, unsigned interval) {
    try {
        for (;;) {
            if (!view.gpu || givenUp || !drawCopies(window, view)) return false;
            const HRESULT presented = presentReported(view.gpu->chain->Present(interval, 0));
            if (view.gpu->finished) shared->context->End(view.gpu->finished.Get());
            if (presented != DXGI_ERROR_DEVICE_REMOVED && presented != DXGI_ERROR_DEVICE_RESET)
                return SUCCEEDED(presented);
            // The frame is drawn again on the device made anew.
            if (!deviceLost()) return false;
        }
    } catch (...) {
        return false;
    }
}

void uploadAhead(const ViewState& view, Sprite& sprite) {
    if (!view.gpu || !shared || givenUp || sprite.prepared.width < 1 || sprite.prepared.height < 1)
        return;
    try {
        if (!sprite.texture || sprite.texture->device != generation)
            sprite.texture = upload(sprite.prepared);
    } catch (...) {
        // The frame that first draws the sprite uploads it.
    }
}

bool gpuBehind(ViewState& view) {
    GpuWindow* gpu = view.gpu.get();
    if (!gpu || !gpu->finished || gpu->device != generation || !shared) return false;
    const HRESULT done =
        shared->context->GetData(gpu->finished.Get(), nullptr, 0, D3D11_ASYNC_GETDATA_DONOTFLUSH);
    // A query that never ends (a driver's fault) must not stop the frames.
    if (done != S_FALSE || gpu->framesSkipped == 8) {
        gpu->framesSkipped = 0;
        return false;
    }
    ++gpu->framesSkipped;
    return true;
}

HANDLE frameWaitable(const ViewState& view) {
    return view.gpu ? view.gpu->waitable : nullptr;
}

std::vector<std::uint32_t> gpuFramePixels(HWND window, ViewState& view) {
    try {
        ComPtr<ID3D11Texture2D> buffer;
        if (!view.gpu || !drawCopies(window, view) ||
            FAILED(view.gpu->chain->GetBuffer(0, IID_PPV_ARGS(&buffer))))
            return {};
        return readBack(buffer.Get());
    } catch (...) {
        return {};
    }
}
