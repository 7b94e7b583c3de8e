# Image with the headless tools: zel-cli (the fleet console), zel-server (the
# test Register Server) and zel-mkframes (frame files). No window, so no Qt.
#
#   docker build -t zel:latest .
#   docker run --rm zel:latest zel-server --listen 0.0.0.0:5556 --stats 10
#
# zel-cli keeps devset.txt, gps.txt and list.txt beside its executable unless
# told otherwise, and /usr/local/bin is not writable here: always pass
# --dir /data (or another writable directory).

# ---- build ------------------------------------------------------------------
FROM debian:bookworm AS build

# The Debian packages CMake needs to configure the project with the window
# and the benchmarks off. The tests' folder is always configured, so GoogleTest
# is needed for the configure step even though no test is built here.
RUN apt-get update \
 && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
      cmake ninja-build g++ pkg-config \
      libjsoncpp-dev libcli11-dev libyaml-cpp-dev libgtest-dev libgmock-dev \
 && rm -rf /var/lib/apt/lists/*

WORKDIR /src
COPY . .

# Only the three executables are built, not the tests. Warnings stay warnings
# here: the image is not where the code's warnings are policed.
RUN cmake -S . -B build -G Ninja \
      -DZEL_BUILD_UI=OFF -DZEL_BUILD_BENCH=OFF -DZEL_WERROR=OFF \
 && cmake --build build --target zel-cli zel-server zel-mkframes \
 && strip build/bin/zel-cli build/bin/zel-server build/bin/zel-mkframes

# ---- runtime ----------------------------------------------------------------
FROM debian:bookworm-slim

# zel-cli and zel-server link libjsoncpp, zel-cli libyaml-cpp (scenarios); all
# three link the C++ runtime (already part of the base image, listed so that
# it is stated).
RUN apt-get update \
 && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
      libjsoncpp25 libyaml-cpp0.7 libstdc++6 \
 && rm -rf /var/lib/apt/lists/*

# A fixed numeric user, so that Kubernetes' runAsNonRoot can check it, and a
# directory it owns for zel-cli's files and any --stats-file or --record.
RUN groupadd --gid 10001 zel \
 && useradd --uid 10001 --gid 10001 --home-dir /data --no-create-home --shell /usr/sbin/nologin zel \
 && mkdir /data && chown 10001:10001 /data

COPY --from=build /src/build/bin/zel-cli /src/build/bin/zel-server /src/build/bin/zel-mkframes /usr/local/bin/

# Fails the build if a shared library the executables need is missing here.
RUN zel-cli --version && zel-server --version && zel-mkframes --version

USER 10001:10001
WORKDIR /data
# 5556: the Register Server's signalling and media; 9400: the --metrics port
# the Kubernetes manifests use.
EXPOSE 5556 9400
CMD ["zel-server", "--listen", "0.0.0.0:5556", "--stats", "10"]
