// The model: contacts and a book of them that announces additions and selections.
import {Notifier} from 'nubrix:host';

let nextId = 1;

export class Contact {
  name = '';
  phone = '';
  favorite = false;

  constructor(name, phone, favorite) {
    this.id = nextId++;
    this.name = name;
    if (phone) this.phone = phone;
    if (favorite) this.favorite = true;
  }
  matches(query) {
    return !query || this.name.toLowerCase().includes(query.toLowerCase());
  }
}

export class ContactBook extends Notifier {
  event onAdd;
  event onSelect;
  title = 'Friends';

  constructor() {
    super();
    this.contacts = [];
  }
  get size() {
    return this.contacts.length;
  }
  // A listener may refuse the contact by setting the event's returnValue to false.
  add(contact) {
    if (!this.triggerAdd(contact)) return false;
    this.contacts.push(contact);
    return true;
  }
  matching(query) {
    return this.contacts.filter((c) => c.matches(query));
  }
  select(contact) {
    return this.triggerSelect(contact);
  }
}
