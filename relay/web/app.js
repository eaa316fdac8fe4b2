"use strict";
// The names shared with the relay (kPageStatus, kCsrfHeader, ...) come from protocol.js.

const $ = (id) => document.getElementById(id);
let status = null;

function showMessage(id, text, isError) {
  $(id).textContent = text;
  $(id).className = "message" + (isError ? " error" : "");
}

function cannotPrint() {
  const tokens = status ? status.notHave.split(kNotHaveSeparator) : [];
  return tokens.flatMap((token) => kNotHaveExtensions.get(token) || []);
}

function ago(seconds) {
  if (seconds < 90) return seconds + " s";
  if (seconds < 5400) return Math.round(seconds / 60) + " min";
  if (seconds < 129600) return Math.round(seconds / 3600) + " h";
  return Math.round(seconds / 86400) + " days";
}

function render() {
  $("pc-name").textContent = status.name || "Your PC";
  $("pc-state").textContent = (status.online ? "online" : "offline") + ", last seen " + ago(status.lastSeenSeconds) + " ago";
  $("pc-state").className = status.online ? "online" : "offline";
  const missing = cannotPrint();
  $("pc-nothave").hidden = missing.length === 0;
  $("pc-nothave").textContent = "This PC cannot print " + missing.join(" ") + " files.";
  const list = $("jobs");
  list.replaceChildren(...status.jobs.map((job) => {
    const item = document.createElement("li");
    const name = document.createElement("span");
    name.textContent = job.name + (job.copies > 1 ? " \u00d7" + job.copies : "");
    const state = document.createElement("span");
    state.textContent = job.state;
    state.className = "job-state";
    item.append(name, state);
    return item;
  }));
}

async function refresh() {
  const answer = await fetch(kPageStatus, { credentials: "same-origin" });
  if (answer.status === 401) {
    status = null;
    $("send").hidden = true;
    $("pair").hidden = false;
    return;
  }
  status = await answer.json();
  $("pair").hidden = true;
  $("send").hidden = false;
  render();
}

function fileChosen() {
  const file = $("file").files[0];
  $("file-name").textContent = file ? file.name + " (" + Math.ceil(file.size / 1024) + " KiB)" : "";
  const lower = file ? file.name.toLowerCase() : "";
  const refused = file && cannotPrint().some((extension) => lower.endsWith(extension.toLowerCase()));
  $("file-warning").hidden = !refused;
  $("file-warning").textContent = refused ? "The PC says it cannot print this kind of file." : "";
}

// A wait in seconds as the user reads it.
function waitText(seconds) {
  if (!(seconds > 0)) return "a while";
  return seconds < 120 ? seconds + " seconds" : Math.ceil(seconds / 60) + " minutes";
}

async function pair(event) {
  event.preventDefault();
  $("pair-button").disabled = true;
  const answer = await fetch(kPagePair, {
    method: "POST",
    credentials: "same-origin",
    // JSON, which the relay takes from its own page only.
    headers: { "Content-Type": "application/json" },
    body: JSON.stringify({ code: $("code").value }),
  });
  $("pair-button").disabled = false;
  if (answer.ok) {
    showMessage("pair-message", "", false);
    await refresh();
    return;
  }
  const reasons = { 403: "That code is wrong.", 410: "That code has expired: open the PC's window for a new one.",
    429: "Too many wrong codes. Try again in " + waitText(Number(answer.headers.get("Retry-After"))) + "." };
  showMessage("pair-message", reasons[answer.status] || "The relay could not pair you. Try again.", true);
}

function send(event) {
  event.preventDefault();
  const file = $("file").files[0];
  if (!file || !status) return;
  if (file.size > status.maxBytes) {
    showMessage("send-message", "The file is larger than the relay takes (" + Math.floor(status.maxBytes / 1048576) + " MiB).", true);
    return;
  }
  const request = new XMLHttpRequest();
  const query = new URLSearchParams({ name: file.name, copies: $("copies").value });
  request.open("POST", kPageUpload + "?" + query);
  request.setRequestHeader(kCsrfHeader, status.csrf);
  request.upload.onprogress = (progress) => {
    if (progress.lengthComputable) $("progress").value = (100 * progress.loaded) / progress.total;
  };
  request.onloadend = () => {
    $("send-button").disabled = false;
    $("progress").hidden = true;
    if (request.status === 201) {
      showMessage("send-message", "Sent: " + file.name + " is waiting for the PC.", false);
      $("send-form").reset();
      fileChosen();
    } else {
      let reason = "The upload failed.";
      try { reason = JSON.parse(request.responseText).error || reason; } catch (ignored) { /* not JSON */ }
      showMessage("send-message", reason, true);
    }
    refresh();
  };
  $("send-button").disabled = true;
  $("progress").value = 0;
  $("progress").hidden = false;
  showMessage("send-message", "Sending\u2026", false);
  request.send(file);
}

function dropZone() {
  const zone = $("drop");
  zone.addEventListener("dragover", (event) => { event.preventDefault(); zone.classList.add("over"); });
  zone.addEventListener("dragleave", () => zone.classList.remove("over"));
  zone.addEventListener("drop", (event) => {
    event.preventDefault();
    zone.classList.remove("over");
    $("file").files = event.dataTransfer.files;
    fileChosen();
  });
}

document.addEventListener("DOMContentLoaded", () => {
  $("pair-form").addEventListener("submit", pair);
  $("send-form").addEventListener("submit", send);
  $("file").addEventListener("change", fileChosen);
  dropZone();
  refresh();
  setInterval(() => { if (status) refresh(); }, 5000);
});
